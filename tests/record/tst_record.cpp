// Keeping the music, without a network: file names, frame boundaries, the
// bounded buffer and its song spans, Ogg chains, and the recorder following
// the playback session (through the fake player and its item's tap).
#include "support/FakeMedia.h"
#include "support/TestEnv.h"

#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "platform/base/Clock.h"
#include "platform/base/Settings.h"
#include "platform/media/GstHandles.h"
#include "platform/media/GstMediaPlayer.h"
#include "platform/media/GstTapProbe.h"
#include "platform/stream/AudioFrames.h"
#include "platform/stream/JoinedAudio.h"
#include "platform/stream/StreamTimeline.h"
#include "platform/stream/TimelineAudio.h"
#include "record/FileNaming.h"
#include "record/FileTags.h"
#include "record/OggPages.h"
#include "record/OggReader.h"
#include "record/Recorder.h"
#include "record/SongSpans.h"
#include "record/StreamBuffer.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <ogg/ogg.h>

using Format = StreamTap::Format;

namespace {

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417 bytes a frame.
QByteArray mp3Frames(int count, char fill = 0)
{
    QByteArray frame("\xFF\xFB\x90\x00", 4);
    frame += QByteArray(417 - 4, fill);
    return frame.repeated(count);
}

// ADTS AAC frames of `length` bytes.
QByteArray adtsFrames(int count, int length)
{
    QByteArray frame(7, 0);
    frame[0] = char(0xFF);
    frame[1] = char(0xF1);
    frame[2] = char(0x50);
    frame[3] = char(0x80 | (length >> 11));
    frame[4] = char((length >> 3) & 0xFF);
    frame[5] = char(((length & 7) << 5) | 0x1F);
    frame[6] = char(0xFC);
    return (frame + QByteArray(length - 7, 0)).repeated(count);
}

QByteArray le32(quint32 n)
{
    QByteArray b(4, 0);
    qToLittleEndian(n, b.data());
    return b;
}

QByteArray vorbisComments(const QByteArray &title, const QByteArray &artist)
{
    const QByteArray t = "TITLE=" + title;
    const QByteArray a = "ARTIST=" + artist;
    return QByteArray("\x03vorbis") + le32(4) + "test" + le32(2) + le32(quint32(t.size())) + t +
           le32(quint32(a.size())) + a;
}

// Ogg Vorbis as an encoder pages it, with checksums.
struct OggSource {
    ogg_stream_state stream;
    OggSource() { ogg_stream_init(&stream, 0); }
    ~OggSource() { ogg_stream_clear(&stream); }
    // The pages of a packet: all, or (`flush` false) those it fills, up to 400 KB.
    QByteArray put(const QByteArray &bytes, bool flush = true)
    {
        ogg_packet packet{.packet = reinterpret_cast<uchar *>(const_cast<char *>(bytes.data())),
                          .bytes = long(bytes.size()),
                          .b_o_s = stream.packetno == 0,
                          // audio after the three header packets
                          .granulepos = stream.packetno < 3 ? 0 : stream.packetno * 1024,
                          .packetno = stream.packetno};
        ogg_stream_packetin(&stream, &packet);
        QByteArray out;
        ogg_page page;
        while (out.size() < 400000 &&
               (flush ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)))
            out += QByteArray(reinterpret_cast<char *>(page.header), page.header_len) +
                   QByteArray(reinterpret_cast<char *>(page.body), page.body_len);
        return out;
    }
    // A new chain's header pages: the first two pages, and the setup page.
    QList<QByteArray> begin(const QByteArray &title)
    {
        ogg_stream_reset_serialno(&stream, stream.serialno + 1);
        const QByteArray first = put(QByteArray("\x01vorbis") + QByteArray(23, 1));
        return {first + put(vorbisComments(title, "Band") + '\x01'), put("\x05vorbis setup")};
    }
    QByteArray audio() { return put(QByteArray(4000, 'a')); }
};

// An Ogg file read back (libogg checks the pages): its header packets, then
// its pages; none unless it is whole pages of one chained stream begun there.
QList<QByteArray> oggPackets(const QByteArray &file)
{
    OggReader reader;
    QList<QByteArray> out;
    qsizetype read = 0;
    int chains = 0;
    reader.feed(
        file.constData(), file.size(),
        {[&](const OggReader::Chain &c) { out += c.packets, read += c.pages.size(), ++chains; },
         [&](const QByteArray &page) { out << page, read += page.size(); }});
    return chains == 1 && read == file.size() ? out : QList<QByteArray>{};
}

QString describe(const QList<SongSpan> &spans)
{
    QStringList out;
    for (const SongSpan &s : spans)
        out << QStringLiteral("%1:%2:%3-%4")
                   .arg(s.title, s.whole ? QStringLiteral("whole") : QStringLiteral("cut"))
                   .arg(s.from)
                   .arg(s.finished() ? QString::number(s.to) : QString());
    return out.join(QLatin1Char(' '));
}

StreamMark start(qint64 at)
{
    return StreamMark{StreamMark::Kind::Start, at, at, QString(), Format::Mp3};
}
StreamMark title(qint64 at, const QString &t)
{
    return StreamMark{StreamMark::Kind::Title, at, at, t, Format::Mp3};
}

// What the player does with a stream it keeps itself: the tap is given it
// and so is the timeline, whose kept audio the item offers the recorder.
struct TimelineFeed : StreamTap {
    explicit TimelineFeed(MediaItem *item = nullptr) : item(item) {}
    StreamTap *offered()
    {
        item->setKeptAudio(kept);
        return this;
    }
    void streamStarted(Format format) override
    {
        if (item)
            item->streamTap()->streamStarted(format);
        timeline->beginConnection();
        kept->started(format);
    }
    void streamData(const char *data, qsizetype size) override
    {
        if (item)
            item->streamTap()->streamData(data, size);
        timeline->append(QByteArray(data, size));
        kept->appended(QByteArray(data, size));
    }
    void streamTitle(const QString &title) override
    {
        if (item)
            item->streamTap()->streamTitle(title);
        timeline->markTitle(title);
        kept->titled(title);
    }
    MediaItem *item;
    std::shared_ptr<StreamTimeline> timeline = std::make_shared<StreamTimeline>(65536);
    std::shared_ptr<TimelineAudio> kept = std::make_shared<TimelineAudio>(timeline);
};

} // namespace

class RecordTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fileNames_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("partial");
        QTest::addColumn<QString>("expected"); // after the date; empty: only checked for bounds
        QTest::newRow("plain") << QStringLiteral("Artist - Song") << false
                               << QStringLiteral("Artist - Song.mp3");
        QTest::newRow("partial") << QStringLiteral("Song") << true
                                 << QStringLiteral("Song (partial).mp3");
        QTest::newRow("slash, NUL, control characters")
            << QStringLiteral("AC/DC\u0000Back\\in\tBlack") << false
            << QStringLiteral("AC_DC_Back_in_Black.mp3");
        QTest::newRow("dots only") << QStringLiteral("..") << false << QStringLiteral("_.mp3");
        QTest::newRow("what FAT, NTFS refuse")
            << QStringLiteral("a?b:c\"d*e<f>g|h") << false << QStringLiteral("a_b_c_d_e_f_g_h.mp3");
        QTest::newRow("no title") << QString() << false << QStringLiteral("Untitled.mp3");
        QTest::newRow("500 accented letters") << QString(500, QChar(0xE9)) << false << QString();
        QTest::newRow("500 emoji, partial")
            << QString::fromUtf8("\xF0\x9F\x8E\xB5").repeated(500) << true << QString();
    }

    void fileNames()
    {
        QFETCH(QString, title);
        QFETCH(bool, partial);
        QFETCH(QString, expected);
        const QDateTime started(QDate(2026, 12, 8), QTime(13, 5, 9));
        const QString name =
            filenaming::songFileName(started, title, partial, QStringLiteral("mp3"));
        QVERIFY(name.startsWith(QStringLiteral("2026-12-08 13.05.09 \u2013 ")));
        const QByteArray utf8 = name.toUtf8();
        // A " (2)" telling two files apart still fits in 255 bytes.
        QVERIFY2(utf8.size() + 5 <= 255, qPrintable(QString::number(utf8.size())));
        QCOMPARE(QString::fromUtf8(utf8), name); // no character split
        QVERIFY(!name.contains(QLatin1Char('/')) && !name.contains(QChar(0)));
        QVERIFY(name.endsWith(partial ? QStringLiteral(" (partial).mp3") : QStringLiteral(".mp3")));
        if (!expected.isEmpty())
            QCOMPARE(name.mid(22), expected);
        else
            QVERIFY(utf8.size() > 240); // the title was shortened, not dropped
    }

    void frameResync_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("expected"); // -1: not enough bytes to tell
        QTest::newRow("mp3 at a frame") << int(Format::Mp3) << mp3Frames(3) << 0 << 0;
        QTest::newRow("mp3 inside a frame: the next one")
            << int(Format::Mp3) << mp3Frames(3) << 10 << 417;
        QByteArray fake = mp3Frames(3);
        fake.replace(100, 4, QByteArray("\xFF\xFB\x90\x00", 4));
        QTest::newRow("mp3 header pattern in the audio is skipped")
            << int(Format::Mp3) << fake << 50 << 417;
        QTest::newRow("mp3 last frame cut: wait")
            << int(Format::Mp3) << mp3Frames(2).left(600) << 10 << -1;
        QTest::newRow("mp3 garbage then frames")
            << int(Format::Mp3) << QByteArray(333, '\x11') + mp3Frames(2) << 0 << 333;
        QTest::newRow("adts inside a frame") << int(Format::Aac) << adtsFrames(4, 371) << 5 << 371;
        QTest::newRow("adts at a frame") << int(Format::Aac) << adtsFrames(4, 371) << 742 << 742;
        QTest::newRow("ogg is cut where asked") << int(Format::Ogg) << QByteArray(100, 0) << 7 << 7;
    }

    void frameResync()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, bytes);
        QFETCH(int, from);
        QFETCH(int, expected);
        QCOMPARE(audioframes::frameStart(Format(format), bytes, from), qsizetype(expected));
    }

    // Read back by its sizes (syncsafe: seven bits a byte), frame by frame;
    // the title is long, so that they reach 128 bytes and more.
    void id3TagIsReadableVersion4()
    {
        const QString title = QStringLiteral("Jóga ").repeated(40);
        const QByteArray tag =
            filetags::id3v24Tag(QStringLiteral("Björk"), title, QStringLiteral("Radio"), {});
        auto size = [&tag](qsizetype at) {
            qsizetype n = 0;
            for (qsizetype i = at; i < at + 4; ++i)
                n = uchar(tag[i]) < 0x80 ? n << 7 | uchar(tag[i]) : -1;
            return n;
        };
        QVERIFY(tag.startsWith(QByteArray("ID3\x04\x00\x00", 6)) && 10 + size(6) == tag.size());
        QStringList frames; // UTF-8 text, empty ones left out
        for (qsizetype at = 10; at + 10 < tag.size() && tag[at] != 0; at += 10 + size(at + 4))
            frames << QString::fromUtf8(tag.mid(at, 4) + '=' + tag.mid(at + 10, size(at + 4)));
        QCOMPARE(frames, (QStringList{QStringLiteral("TPE1=\3Björk"), "TIT2=\3" + title,
                                      QStringLiteral("TALB=\3Radio")}));
    }

    // What the tap takes, by the stream's caps (MP3, ADTS and Ogg: the
    // scenario): raw AAC (from MP4) with the ADTS headers it needs to play,
    // nothing of what cannot be recorded as sent (and says so).
    void tapTakesWhatCanBeRecorded_data()
    {
        QTest::addColumn<QByteArray>("caps");
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("taken"); // of a buffer "abc"
        QTest::newRow("raw AAC from MP4 (LC, 44.1 kHz, stereo): ADTS headers")
            << QByteArray("audio/mpeg, mpegversion=4, stream-format=raw, codec_data=(buffer)1210")
            << int(Format::Aac)
            << QByteArray("\xFF\xF1\x50\x80\x01\x5F\xFC"
                          "abc",
                          10);
        QTest::newRow("FLAC cannot be")
            << QByteArray("audio/x-flac") << int(Format::Unknown) << QByteArray();
    }

    void tapTakesWhatCanBeRecorded()
    {
        QFETCH(QByteArray, caps);
        QFETCH(int, format);
        QFETCH(QByteArray, taken);
        QVERIFY(GstMediaPlayer::ensureInitialized());
        const auto tap = std::make_shared<StreamBuffer>(65536);
        const gsthandle::Pipeline bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
        GstElement *parser = gst_element_factory_make("aacparse", nullptr);
        QVERIFY(parser && gst_bin_add(GST_BIN(bin.get()), parser));
        gsttap::install(bin.get(), tap);
        gsttap::elementAdded(bin.get(), parser);
        gst_element_set_state(bin.get(), GST_STATE_PAUSED);
        const gsthandle::Object<GstPad> pad(gst_element_get_static_pad(parser, "sink"));
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_BYTES);
        const gsthandle::Caps streamCaps(gst_caps_from_string(caps.constData()));
        for (GstEvent *event :
             {gst_event_new_stream_start("tap"), gst_event_new_caps(streamCaps.get()),
              gst_event_new_segment(&segment)})
            gst_pad_send_event(pad.get(), event);
        gst_pad_chain(pad.get(), gst_buffer_new_memdup("abc", 3));
        QCOMPARE(tap->marks().size(), 1); // started, as Unknown when it cannot be recorded
        QCOMPARE(int(tap->marks().at(0).format), format);
        QCOMPARE(tap->read(0, 100), taken);
    }

    void songSpans_data()
    {
        QTest::addColumn<QList<StreamMark>>("marks");
        QTest::addColumn<int>("startOffset");
        QTest::addColumn<QString>("expected");
        const QList<StreamMark> changes = {start(0), title(100, QStringLiteral("A")),
                                           title(500, QStringLiteral("B")),
                                           title(900, QStringLiteral("C"))};
        QTest::newRow("joined mid-song, then changes")
            << changes << 0 << QStringLiteral("A:cut:0-500 B:whole:500-900 C:whole:900-");
        QTest::newRow("the start let go")
            << changes << 600 << QStringLiteral("B:cut:600-900 C:whole:900-");
        QTest::newRow("a title repeated is no change")
            << QList<StreamMark>{start(0), title(10, QStringLiteral("A")),
                                 title(100, QStringLiteral("B")), title(200, QStringLiteral("B"))}
            << 0 << QStringLiteral("A:cut:0-100 B:whole:100-");
        QTest::newRow("a reconnect cuts the song")
            << QList<StreamMark>{start(0),
                                 title(10, QStringLiteral("A")),
                                 title(100, QStringLiteral("B")),
                                 start(300),
                                 title(310, QStringLiteral("B")),
                                 title(400, QStringLiteral("C"))}
            << 0 << QStringLiteral("A:cut:0-100 B:whole:100-300 B:cut:300-400 C:whole:400-");
        QTest::newRow("a station without titles")
            << QList<StreamMark>{start(0)} << 0 << QStringLiteral(":cut:0-");
    }

    void songSpans()
    {
        QFETCH(QList<StreamMark>, marks);
        QFETCH(int, startOffset);
        QFETCH(QString, expected);
        QCOMPARE(describe(::songSpans(marks, startOffset, 1200)), expected);
    }

    void bufferIsBoundedInBytes_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<bool>("inFile"); // kept in a file rather than in memory
        QTest::addColumn<int>("titleEvery");
        QTest::newRow("small chunks") << 1000 << 500 << 100000 << false << 7;
        QTest::newRow("chunks larger than a tenth") << 30000 << 40 << 200000 << false << 7;
        QTest::newRow("under the cap: all kept") << 4096 << 10 << 100000 << false << 7;
        QTest::newRow("in a file") << 999 << 500 << 100000 << true << 7;
        QTest::newRow("a new title every piece") << 1000 << 6000 << 4000000 << false << 1;
    }

    void bufferIsBoundedInBytes()
    {
        QFETCH(int, chunk);
        QFETCH(int, count);
        QFETCH(int, capacity);
        QFETCH(bool, inFile);
        QFETCH(int, titleEvery);
        StreamBuffer buffer(capacity, inFile ? 0 : StreamBuffer::kMemoryLimitBytes);
        QCOMPARE(buffer.keptInFile(), inFile);
        buffer.streamStarted(Format::Mp3);
        for (int i = 0; i < count; ++i) {
            buffer.streamData(QByteArray(chunk, char(i)).constData(), chunk);
            if (i % titleEvery == 0)
                buffer.streamTitle(QStringLiteral("Song %1").arg(i));
        }
        const qint64 total = qint64(chunk) * count;
        const qint64 kept = total - buffer.startOffset();
        // What keeping the pieces costs counts too, a tenth at most here.
        QVERIFY(buffer.heldBytes() <= capacity && buffer.heldBytes() > kept);
        QVERIFY(kept >= qMin<qint64>(total, capacity * 9 / 10 - chunk));
        QCOMPARE(buffer.endOffset(), total);
        // Reading across what was let go gives only what is held, in order.
        const QByteArray all = buffer.read(0, total);
        QCOMPARE(all.size(), kept);
        QCOMPARE(all.back(), char(count - 1));
        const QByteArray middle = buffer.read(total - chunk - 10, total - chunk + 10);
        QCOMPARE(middle, QByteArray(10, char(count - 2)) + QByteArray(10, char(count - 1)));
        // Marks of what was let go go too, but the one the held part began in.
        const auto marks = buffer.marks();
        QVERIFY(marks.size() <= StreamBuffer::kMaxMarks + 1);
        QVERIFY(marks.size() == 1 || marks.at(1).offset > buffer.startOffset());
        QVERIFY(marks.first().offset <= buffer.startOffset());
    }

    void bufferSizeSettingIsBounded_data()
    {
        QTest::addColumn<int>("megabytes");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("0: 1 MB") << 0 << qint64(1'000'000);
        QTest::newRow("negative: 1 MB") << -20 << qint64(1'000'000);
        QTest::newRow("100000: 1024 MB") << 100000 << qint64(1'024'000'000);
    }

    void bufferSizeSettingIsBounded()
    {
        QFETCH(int, megabytes);
        QFETCH(qint64, bytes);
        settings::open()->setValue(QStringLiteral("recording/bufferMB"), megabytes);
        QCOMPARE(Recorder::savedOptions().bufferBytes, bytes);
    }

    void aSongKeepsWhereItBeganAsTheBufferMoves_data()
    {
        QTest::addColumn<bool>("timeline");
        QTest::newRow("the recorder's buffer") << false;
        QTest::newRow("time-shift's timeline") << true;
    }

    void aSongKeepsWhereItBeganAsTheBufferMoves()
    {
        QFETCH(bool, timeline);
        StreamBuffer own(65536);
        TimelineFeed feed;
        StreamTap &tap = timeline ? static_cast<StreamTap &>(feed) : own;
        const KeptAudio &buffer = timeline ? static_cast<KeptAudio &>(*feed.kept) : own;
        tap.streamStarted(Format::Mp3);
        const QByteArray chunk(1000, 0);
        tap.streamData(chunk.constData(), chunk.size());
        tap.streamTitle(QStringLiteral("Joined"));
        for (int i = 0; i < 300; ++i) {
            tap.streamData(chunk.constData(), chunk.size());
            if (i == 150)
                tap.streamTitle(QStringLiteral("Next"));
            const auto spans =
                ::songSpans(buffer.marks(), buffer.startOffset(), buffer.endOffset());
            // The recorder tells songs apart by where they began.
            QCOMPARE(spans.last().began, i < 150 ? 0 : 152000);
            QCOMPARE(spans.last().title,
                     i < 150 ? QStringLiteral("Joined") : QStringLiteral("Next"));
            QCOMPARE(spans.first().from, buffer.startOffset());
        }
    }

    // A pause let the connection go and the program plays on another: the
    // two are read as one, the earlier let go once both hold more than the
    // capacity.
    void connectionsOfOneProgramAreReadAsOne_data()
    {
        QTest::addColumn<int>("laterChunks");
        QTest::addColumn<bool>("earlierHeld");
        QTest::newRow("both within the capacity") << 10 << true;
        QTest::newRow("more than the capacity: the earlier goes") << 40 << false;
    }

    void connectionsOfOneProgramAreReadAsOne()
    {
        QFETCH(int, laterChunks);
        QFETCH(bool, earlierHeld);
        TimelineFeed before, after;
        const QByteArray a(1000, 'a'), b(1000, 'b');
        before.streamStarted(Format::Mp3);
        before.streamTitle(QStringLiteral("Before"));
        for (int i = 0; i < 20; ++i)
            before.streamData(a.constData(), a.size());
        after.streamStarted(Format::Mp3);
        const JoinedAudio joined(before.kept, after.kept, 50000);
        after.streamTitle(QStringLiteral("After"));
        for (int i = 0; i < laterChunks; ++i)
            after.streamData(b.constData(), b.size());

        QCOMPARE(joined.endOffset(), 20000 + laterChunks * 1000);
        QCOMPARE(joined.startOffset(), earlierHeld ? 0 : joined.endOffset() - 40000);
        const QList<StreamMark> marks = joined.marks();
        QCOMPARE(std::any_of(marks.begin(), marks.end(),
                             [](const StreamMark &m) { return m.title == "Before"; }),
                 earlierHeld);
        QCOMPARE(marks.last().title, QStringLiteral("After"));
        QCOMPARE(marks.last().offset, 20000);
        if (earlierHeld) {
            // Read across where the connections meet, pieces from both.
            QCOMPARE(joined.read(19000, 21000), a + b);
            QCOMPARE(joined.pieceStartFrom(19500), 20000);
            QVERIFY(joined.wallMsAt(100) > 0);
        } else {
            QCOMPARE(joined.read(0, 21000), b);
            QCOMPARE(joined.wallMsAt(100), 0);
        }
        QCOMPARE(joined.parts(), earlierHeld ? 2 : 1);
    }

    void oggChainsAreMarkedWithTheirHeaders()
    {
        StreamBuffer buffer(1000000);
        buffer.streamStarted(Format::Ogg);
        OggSource ogg;
        QByteArray first = ogg.begin("One").join(); // then its pages: in this order
        first += ogg.audio().repeated(5);
        QByteArray second = ogg.begin("Two").join();
        second += ogg.audio();
        const QByteArray stream = QByteArray("junk") + first + second;
        // Delivered in pieces that do not respect pages.
        for (qsizetype at = 0; at < stream.size(); at += 333)
            buffer.streamData(stream.constData() + at, qMin<qsizetype>(333, stream.size() - at));
        QCOMPARE(buffer.endOffset(), first.size() + second.size()); // the junk is not a page
        const auto spans = ::songSpans(buffer.marks(), 0, buffer.endOffset());
        QCOMPARE(describe(spans),
                 QStringLiteral("Band - One:cut:0-%1 Band - Two:whole:%1-").arg(first.size()));
        const auto headers = buffer.oggHeadersAt(buffer.endOffset() - 10);
        QCOMPARE(headers.offset, first.size());
        QCOMPARE(headers.packets.size(), 3);
        QCOMPARE(oggPackets(second.left(headers.pagesSize)), headers.packets);
        // Paged afresh with our comments: the same packets but the comments,
        // whole pages with their checksums.
        QList<QByteArray> packets =
            oggpages::withComments(headers.packets, {{"TITLE", QStringLiteral("Zwei")},
                                                     {"ALBUM", QStringLiteral("Radio")}});
        QCOMPARE(oggpages::titleFromComments(packets), QStringLiteral("Band - Zwei"));
        QCOMPARE(oggPackets(oggpages::headerPages(packets, 7)), packets);
        // A setup packet too long for one page goes on over the next.
        packets[2] = QByteArray("\x05vorbis") + QByteArray(70000, 's');
        QCOMPARE(oggPackets(oggpages::headerPages(packets, 7)), packets);
        QVERIFY(packets.at(1).contains("ALBUM=Radio") && packets.at(1).endsWith('\x01'));

        // Opus: the comments right after "OpusTags", with no framing bit.
        const auto opusTags = [&](const QByteArray &title) {
            return "OpusTags" + le32(4) + "test" + le32(1) + le32(quint32(title.size() + 6)) +
                   "TITLE=" + title;
        };
        QList<QByteArray> opus{QByteArray("OpusHead\x01\x02\0\0\x80\xbb\0\0\0\0\0", 19),
                               opusTags("Eins")};
        QVERIFY(oggpages::headersComplete(opus));
        QCOMPARE(oggpages::titleFromComments(opus), QStringLiteral("Eins"));
        opus = oggpages::withComments(opus, {{"TITLE", QStringLiteral("Zwei")}});
        QCOMPARE(opus.at(1), opusTags("Zwei"));
    }

    // Ogg recorded and saved: steps of the stream ("One:2" a chain and two
    // audio pages, "Two/:1" its header pages in two reads with a poll
    // between, "+2" more pages, "Bad!" a chain whose first packet never
    // ends, "cannot" a stream the tap cannot record) and of the recorder
    // ("-split": a part every poll, "-drop": keepPartial=false).
    void oggRecordings_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("audio"); // audio packets in all files; -1: some
        const QString one = QStringLiteral("Band - One (partial).ogg");
        QTest::newRow("started and stopped before a page arrived: the page playing")
            << "One:3 record stop" << QStringList{one} << 1;
        QTest::newRow("linked: a cut file begun a minute in, closed as the recorder goes")
            << "One:2 minute +1 record quit" << QStringList{one} << 1;
        QTest::newRow("the next chain's headers in two reads, polled between: one chain a file")
            << "One:1 record poll Two/:2 poll Three:1 poll stop"
            << QStringList{one, "Band - Three (partial).ogg", "Band - Two.ogg"} << 4;
        QTest::newRow("hourly parts: whole pages, every page kept")
            << "-split One:1 record poll +2 poll +2 poll stop"
            << QStringList{"Band - One (part 1) (partial).ogg", "Band - One (part 2).ogg",
                           "Band - One (part 3) (partial).ogg"}
            << 5;
        QTest::newRow("hourly parts of a whole song kept when cut songs are not")
            << "-split -drop One:1 record poll Two:1 poll +1 poll +1 poll Three:1 poll stop"
            << QStringList{"Band - Two (part 1).ogg", "Band - Two (part 2).ogg",
                           "Band - Two (part 3).ogg"}
            << 3;
        QTest::newRow("Save Last Song of a song joined, its chain's header pages let go")
            << "One:20 Two:1 save" << QStringList{one} << -1;
        QTest::newRow("Save Last Song behind live: the last song that ended where it is heard")
            << "One:2 minute Two:2 minute Three:1 behind save" << QStringList{one} << -1;
        QTest::newRow("a first packet that never ends: told once, the chains after it kept")
            << "One:1 record poll Bad! poll Two:1 poll Three:1 save"
            << QStringList{one, "Band - Two.ogg"} << 2;
        QTest::newRow("a stream the tap cannot record: told, not recording")
            << "cannot record" << QStringList{} << 0;
        QTest::newRow("a page cut short by a reconnect is in no file")
            << "One:1 record poll cut Two:1 poll stop"
            << QStringList{one, "Band - Two (partial).ogg"} << 2;
        QTest::newRow("timeline: a page cut short by a reconnect is in no file")
            << "-timeline One:1 record poll cut Two:1 poll stop"
            << QStringList{one, "Band - Two (partial).ogg"} << 2;
        // Read from the player's timeline, which keeps bytes outside pages too.
        QTest::newRow("timeline: the next chain's headers in two reads, junk between pages")
            << "-timeline One:1 record poll junk Two/:2 poll Three:1 poll stop"
            << QStringList{one, "Band - Three (partial).ogg", "Band - Two.ogg"} << 4;
        QTest::newRow("timeline: hourly parts, every page kept")
            << "-timeline -split One:1 record poll +2 poll +2 poll stop"
            << QStringList{"Band - One (part 1) (partial).ogg", "Band - One (part 2).ogg",
                           "Band - One (part 3) (partial).ogg"}
            << 5;
        QTest::newRow("timeline: Save Last Song of a song joined, its header pages let go")
            << "-timeline One:20 Two:1 save" << QStringList{one} << -1;
    }

    void oggRecordings()
    {
        QFETCH(QString, steps);
        QFETCH(QStringList, files);
        QFETCH(int, audio);
        struct SetClock : Clock {
            QDateTime currentDateTimeUtc() const override { return now; }
            QDateTime now = QDateTime::currentDateTimeUtc();
        } clock;
        Clock::setShared(&clock);
        const auto restore = qScopeGuard([] { Clock::setShared(nullptr); });
        QTemporaryDir music;
        FakeMediaFactory factory;
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Radio"), QString(), QStringLiteral("http://r/"))));
        PlaybackSession session;
        HistoryStore history(music.filePath(QStringLiteral("history.sqlite")));
        HistoryRecorder heard(&session, &history);
        Recorder::Options o;
        o.folder = music.path();
        o.pollMs = 3600 * 1000; // polled by the steps
        o.bufferBytes = 65536;
        o.keepPartial = !steps.contains(QLatin1String("-drop"));
        o.splitMs = steps.contains(QLatin1String("-split")) ? 0 : o.splitMs;
        auto recorder = std::make_unique<Recorder>(&session, o);
        recorder->setHistory(&history);
        QSignalSpy written(recorder.get(), &Recorder::fileWritten);
        QSignalSpy failed(recorder.get(), &Recorder::failed);
        QSignalSpy saved(recorder.get(), &Recorder::songSaved);
        session.playCurrent();
        factory.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        StreamTap *tap = factory.lastItem()->streamTap().get();
        TimelineFeed timeline(factory.lastItem().get());
        if (steps.contains(QLatin1String("-timeline")))
            tap = timeline.offered();
        tap->streamStarted(Format::Ogg);
        OggSource ogg;
        auto send = [tap](const QByteArray &bytes) { tap->streamData(bytes.data(), bytes.size()); };
        auto poll = [&] {
            QMetaObject::invokeMethod(recorder->findChild<QTimer *>(QStringLiteral("recorderPoll")),
                                      "timeout");
        };
        for (const QString &step : steps.split(QLatin1Char(' '))) {
            const QString name = step.section(QLatin1Char(':'), 0, 0).remove(QLatin1Char('/'));
            if (step == QLatin1String("record") || step == QLatin1String("stop"))
                recorder->setRecording(step == QLatin1String("record"));
            else if (step == QLatin1String("poll"))
                poll();
            else if (step == QLatin1String("save"))
                QVERIFY(recorder->saveLastSong());
            else if (step == QLatin1String("minute"))
                clock.now = clock.now.addSecs(60);
            else if (step == QLatin1String("behind"))
                factory.last()->behindMs = 30000; // heard half a minute ago

            else if (step == QLatin1String("quit"))
                recorder.reset(); // its last file is closed, and linked
            else if (step == QLatin1String("junk"))
                send("junk");
            else if (step == QLatin1String("cut")) { // half a page, then a new connection
                send(ogg.audio().left(2000));
                tap->streamStarted(Format::Ogg);
            } else if (step == QLatin1String("cannot"))
                tap->streamStarted(Format::Unknown);
            else if (step == QLatin1String("Bad!")) { // a first packet that never ends
                ogg_stream_reset_serialno(&ogg.stream, 99);
                send(ogg.put(QByteArray("\x01vorbis") + QByteArray(600000, 1), false));
            } else if (name.front().isUpper()) { // a chain
                const QList<QByteArray> headers = ogg.begin(name.toLatin1());
                factory.lastItem()->setNowPlaying(QStringLiteral("Band - ") + name);
                send(headers.at(0));
                if (step.contains(QLatin1Char('/')))
                    poll();
                send(headers.at(1));
            }
            for (int i = step.section(QLatin1Char(':'), -1).toInt(); i > 0; --i)
                send(ogg.audio());
        }
        QVERIFY(!recorder || !recorder->isRecording());
        // What the player keeps is not kept a second time.
        QVERIFY(!recorder || tap != &timeline || recorder->buffer()->heldBytes() == 0);
        QTRY_COMPARE(written.size(), files.size());
        QStringList names; // after the date; two begun in the same second differ by a " (2)"
        for (const QVariantList &args : written)
            names << args.at(0).toString().section(QLatin1Char('/'), -1).mid(22).remove(" (2)");
        names.sort();
        QCOMPARE(names, files);
        QTRY_COMPARE(QDir(music.filePath(QStringLiteral("Radio"))).entryList(QDir::Files).size(),
                     files.size()); // nothing else: cut songs not kept are gone
        QCOMPARE(failed.size(), int(steps.contains(QRegularExpression("Bad!|cannot"))));
        // A save names its own file, not a recording's closed before it.
        QCOMPARE(saved.size(), int(steps.contains(QLatin1String("save"))));
        QVERIFY(saved.isEmpty() || saved.at(0).at(1) == written.constLast().at(0));
        QStringList linked;
        for (const auto &song : history.songs())
            linked << song.file;
        int packets = 0;
        for (const QVariantList &args : written) {
            QFile file(args.at(0).toString());
            file.open(QIODevice::ReadOnly); // else read as empty: no packets
            const QList<QByteArray> p = oggPackets(file.readAll());
            // Whole pages of one chain, behind its headers with our comments.
            const QString title =
                file.fileName().section(" - ", 1).section(QRegularExpression("[ .]"), 0, 0);
            QVERIFY2(p.size() >= 3 && p.at(1).contains("ALBUM=Radio") &&
                         p.at(1).contains("TITLE=" + title.toLatin1()),
                     qPrintable(file.fileName()));
            // The file with its song's beginning is linked in the history.
            QCOMPARE(linked.contains(file.fileName()),
                     !file.fileName().contains(QStringLiteral("(part ")) ||
                         file.fileName().contains(QStringLiteral("(part 1)")));
            packets += int(p.size()) - 3;
        }
        QVERIFY2(audio < 0 ? packets > 0 : packets == audio, qPrintable(QString::number(packets)));
    }

    void recorderFollowsTheSession_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<bool>("keepPartial");
        QTest::addColumn<QStringList>("files");
        const QStringList cutAtTheEnd = {QStringLiteral("Joined (partial).mp3"),
                                         QStringLiteral("Whole.mp3"),
                                         QStringLiteral("Last (partial).mp3")};
        QTest::newRow("pause stops it") << QStringLiteral("pause") << true << cutAtTheEnd;
        QTest::newRow("a failure stops it") << QStringLiteral("fail") << true << cutAtTheEnd;
        QTest::newRow("another program stops it")
            << QStringLiteral("switch") << true << cutAtTheEnd;
        QTest::newRow("cut songs dropped as set")
            << QStringLiteral("pause") << false << QStringList{QStringLiteral("Whole.mp3")};
        QTest::newRow("a reconnect goes on in a new file")
            << QStringLiteral("reconnect") << true
            << QStringList{QStringLiteral("Joined (partial).mp3"), QStringLiteral("Whole.mp3"),
                           QStringLiteral("Last (partial).mp3"),
                           QStringLiteral("Last (partial).mp3")};
        QTest::newRow("read from the player's timeline: a reconnect goes on in a new file")
            << QStringLiteral("reconnect timeline") << true
            << QStringList{QStringLiteral("Joined (partial).mp3"), QStringLiteral("Whole.mp3"),
                           QStringLiteral("Last (partial).mp3"),
                           QStringLiteral("Last (partial).mp3")};
        QTest::newRow("read from the player's timeline: pause stops it, what was kept stays")
            << QStringLiteral("pause timeline") << true << cutAtTheEnd;
        QTest::newRow("read from the player's timeline: a failure stops it, what was kept stays")
            << QStringLiteral("fail timeline") << true << cutAtTheEnd;
        QTest::newRow("read from the player's timeline: another program stops it")
            << QStringLiteral("switch timeline") << true << cutAtTheEnd;
        // The pause let the connection go; the songs before it can still
        // be saved once the program plays again on a new one.
        QTest::newRow("read from the player's timeline: played again after a pause")
            << QStringLiteral("resume timeline") << true
            << cutAtTheEnd + QStringList{QStringLiteral("Last (partial).mp3")};
    }

    void recorderFollowsTheSession()
    {
        QFETCH(QString, end);
        QFETCH(bool, keepPartial);
        QFETCH(QStringList, files);
        QTemporaryDir music;
        FakeMediaFactory factory;
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Radio"), QString(), QStringLiteral("http://r/"))));
        PlaybackSession session;
        Recorder::Options options;
        options.folder = music.path();
        options.pollMs = 10;
        options.keepPartial = keepPartial;
        Recorder recorder(&session, options);
        QSignalSpy written(&recorder, &Recorder::fileWritten);
        session.playCurrent();
        factory.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        QCOMPARE(session.state(), PlaybackSession::State::Playing);
        StreamTap *tap = factory.lastItem()->streamTap().get();
        QVERIFY(tap);
        TimelineFeed timeline(factory.lastItem().get());
        if (end.endsWith(QLatin1String(" timeline"))) {
            tap = timeline.offered();
            end.chop(9);
        }
        tap->streamStarted(Format::Mp3);
        tap->streamData(mp3Frames(10).constData(), 4170);
        tap->streamTitle(QStringLiteral("Joined"));
        recorder.setRecording(true);
        QVERIFY(recorder.isRecording());
        for (const char *song : {"Whole", "Last"}) {
            tap->streamData(mp3Frames(20).constData(), 20 * 417);
            tap->streamTitle(QString::fromLatin1(song));
            QTest::qWait(30);
        }
        tap->streamData(mp3Frames(20).constData(), 20 * 417);
        QTest::qWait(30);
        if (end == QLatin1String("pause") || end == QLatin1String("resume")) {
            session.pause();
        } else if (end == QLatin1String("fail")) {
            factory.lastItem()->setStatus(MediaItem::StatusFailed);
        } else if (end == QLatin1String("switch")) {
            QVERIFY(CacheManager::shareIntance()->saveLiveData(program::make(
                QStringLiteral("Other"), QString(), QStringLiteral("http://other/"))));
            session.refreshProgram();
        } else {
            factory.lastItem()->setReconnecting(true);
            tap->streamStarted(Format::Mp3);
            tap->streamData(mp3Frames(5).constData(), 5 * 417);
            factory.lastItem()->setReconnecting(false);
            tap->streamTitle(QStringLiteral("Last"));
            tap->streamData(mp3Frames(5).constData(), 5 * 417);
            QTest::qWait(50);
            QVERIFY(recorder.isRecording());
            recorder.setRecording(false);
        }
        QVERIFY(!recorder.isRecording());
        QVERIFY(tap != &timeline || recorder.buffer()->heldBytes() == 0);
        // What was kept stays to be saved, but not as another program's.
        QCOMPARE(recorder.canSaveLastSong(), end != QLatin1String("switch"));
        TimelineFeed next;
        if (end == QLatin1String("resume")) {
            session.playCurrent();
            factory.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
            next.item = factory.lastItem().get();
            next.offered()->streamStarted(Format::Mp3);
            next.streamData(mp3Frames(10).constData(), 4170);
            next.streamTitle(QStringLiteral("After"));
            QVERIFY(recorder.canSaveLastSong());
            QVERIFY(recorder.saveLastSong() > 0);
        }
        QTRY_COMPARE(written.size(), files.size());
        auto names = [&music] {
            QStringList out =
                QDir(music.filePath(QStringLiteral("Radio"))).entryList(QDir::Files, QDir::Name);
            // Two files begun in the same second differ only by a " (2)".
            for (QString &name : out)
                name = name.mid(22).replace(QLatin1String(" (2)."), QLatin1String("."));
            out.sort();
            return out;
        };
        QStringList sortedFiles = files;
        sortedFiles.sort();
        QTRY_COMPARE(names(), sortedFiles); // a dropped file goes once it is closed
        // Every file is whole frames behind its tag.
        for (const QVariantList &args : written) {
            QFile f(args.at(0).toString());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            QVERIFY(bytes.startsWith("ID3"));
            const qsizetype audio = bytes.indexOf("\xFF\xFB");
            QCOMPARE((bytes.size() - audio) % 417, 0);
        }
    }

    void aStationWithoutTitlesIsSplitEveryHour()
    {
        QTemporaryDir music;
        FakeMediaFactory factory;
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Quiet"), QString(), QStringLiteral("http://q/"))));
        PlaybackSession session;
        Recorder::Options options;
        options.folder = music.path();
        options.pollMs = 10;
        Recorder recorder(&session, options);
        QSignalSpy written(&recorder, &Recorder::fileWritten);
        session.playCurrent();
        factory.lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        StreamTap *tap = factory.lastItem()->streamTap().get();
        tap->streamStarted(Format::Mp3);
        Clock::shared()->setTimeScale(0.0001); // an hour is 360 ms
        recorder.setRecording(true);
        for (int i = 0; i < 12; ++i) {
            tap->streamData(mp3Frames(4).constData(), 4 * 417);
            QTest::qWait(100);
        }
        session.pause();
        Clock::shared()->setTimeScale(1.0);
        QTRY_VERIFY(QDir(music.filePath(QStringLiteral("Quiet"))).count() >= 2 + 3);
        QTRY_COMPARE(written.size(),
                     int(QDir(music.filePath(QStringLiteral("Quiet"))).count()) - 2);
        // Named after the program; together every byte once, in whole frames.
        QByteArray audio;
        for (const QVariantList &args : written) {
            const QString path = args.at(0).toString();
            QVERIFY2(path.contains(QStringLiteral(" \u2013 Quiet")), qPrintable(path));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            const qsizetype start = bytes.indexOf("\xFF\xFB");
            QCOMPARE((bytes.size() - start) % 417, 0);
            audio += bytes.mid(start);
        }
        QCOMPARE(audio, mp3Frames(48));
    }

    void savedSongsAreLinkedInTheHistory()
    {
        QTemporaryDir dir;
        FakeMediaFactory factory;
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Radio"), QString(), QStringLiteral("http://r/"))));
        PlaybackSession session;
        HistoryStore history(dir.filePath(QStringLiteral("history.sqlite")));
        HistoryRecorder heard(&session, &history);
        Recorder::Options options;
        options.folder = dir.filePath(QStringLiteral("music"));
        options.pollMs = 10;
        Recorder recorder(&session, options);
        recorder.setHistory(&history);
        QSignalSpy written(&recorder, &Recorder::fileWritten);
        session.playCurrent();
        auto item = factory.lastItem();
        item->setStatus(MediaItem::StatusReadyToPlay);
        StreamTap *tap = item->streamTap().get();
        tap->streamStarted(Format::Mp3);
        // The stream says each title in its bytes, and the player on its bus.
        for (const char *song : {"Joined", "Artist - Song", "Next"}) {
            tap->streamTitle(QString::fromLatin1(song));
            item->setNowPlaying(QString::fromLatin1(song));
            tap->streamData(mp3Frames(10).constData(), 10 * 417);
        }
        auto row = [&history](const QString &title) {
            for (const auto &song : history.songs())
                if (song.title == title)
                    return song;
            return HistoryStore::Song{};
        };
        QCOMPARE(history.songs().size(), 3);
        // Saved from the history's row: a song that ended and is still held.
        QVERIFY(recorder.canSave(row(QStringLiteral("Artist - Song"))));
        QVERIFY(!recorder.canSave(row(QStringLiteral("Next"))));  // still playing
        QVERIFY(recorder.canSave(row(QStringLiteral("Joined")))); // cut: saved as partial
        QVERIFY(recorder.save(row(QStringLiteral("Artist - Song"))));
        QTRY_COMPARE(written.size(), 1);
        const QString path = written.at(0).at(0).toString();
        QVERIFY(path.endsWith(QStringLiteral(" \u2013 Artist - Song.mp3")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("ID3"));
        const int tag = 10 + ((bytes[6] << 21) | (bytes[7] << 14) | (bytes[8] << 7) | bytes[9]);
        QCOMPARE(bytes.mid(tag), mp3Frames(10)); // the song's frames, exactly
        QCOMPARE(row(QStringLiteral("Artist - Song")).file, path);
        QVERIFY(row(QStringLiteral("Next")).file.isEmpty());

        // The song playing now is written once it ends.
        QVERIFY(recorder.saveCurrentSong());
        tap->streamData(mp3Frames(5).constData(), 5 * 417);
        QTest::qWait(50);
        QCOMPARE(written.size(), 1);
        tap->streamTitle(QStringLiteral("After"));
        item->setNowPlaying(QStringLiteral("After"));
        tap->streamData(mp3Frames(3).constData(), 3 * 417);
        QTRY_COMPARE(written.size(), 2);
        QVERIFY(written.at(1).at(0).toString().endsWith(QStringLiteral(" \u2013 Next.mp3")));
        QTRY_COMPARE(row(QStringLiteral("Next")).file, written.at(1).at(0).toString());
    }
};

ORBITUNE_CORE_TEST_MAIN(RecordTest)
#include "tst_record.moc"
