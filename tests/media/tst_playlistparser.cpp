#include "platform/media/Fmp4Audio.h"
#include "platform/media/HlsPlaylist.h"
#include "platform/media/IcyHttpClient.h"
#include "platform/media/OggChains.h"
#include "platform/media/PlaylistParser.h"
#include "platform/media/StreamTimeline.h"
#include "platform/media/StreamTitle.h"
#include "platform/media/TimelineRing.h"
#include "platform/media/TsAudio.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using playlist::Kind;
Q_DECLARE_METATYPE(playlist::Kind)

class TestPlaylistParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void detectsByContentNotType_data();
    void detectsByContentNotType();
    void plsEntriesInNumberOrder();
    void plsNumbersAboveNineWithGapsAndOutOfOrder();
    void m3uResolvesRelativeAndDropsLocalFiles();
    void xspfTakesFirstLocationPerTrackEvenWhenTruncated();
    void asxReadsEveryRefInOrderTolerantly();
    void entriesAreCapped();
    void largePlaylistParsesQuickly();
    void mediaContentTypes();
    void titlesInTheirOwnCharset_data();
    void titlesInTheirOwnCharset();
    void icyMetadataBlock();
    void composeTitleAndArtist();
    void icyBodyTakesOutTitles_data();
    void icyBodyTakesOutTitles();
    void clientReadsTheStreamInPieces();
    void timelinePositions_data();
    void timelinePositions();
    void timelineTimeFromSegmentDurations();
    void oggRestartsAtAPageAfterItsChainsHeaders();
    void hlsVariantPlayed_data();
    void hlsVariantPlayed();
    void hlsMediaPlaylists_data();
    void hlsMediaPlaylists();
    void hlsResumesInOrderOrAtTheLiveEdge_data();
    void hlsResumesInOrderOrAtTheLiveEdge();
    void fmp4AudioWithinItsBoxes_data();
    void fmp4AudioWithinItsBoxes();
    void tsAudioTheSameHoweverCut_data();
    void tsAudioTheSameHoweverCut();
};

namespace {

// "sequence:ms" per segment, "d" after one that follows a discontinuity,
// "i" after one with an init segment; "end" when the list ends.
QString summary(const hls::MediaPlaylist &list)
{
    QStringList out;
    for (const hls::Segment &s : list.segments)
        out << QStringLiteral("%1:%2%3%4")
                   .arg(s.sequence)
                   .arg(s.durationMs)
                   .arg(s.discontinuity ? QStringLiteral("d") : QString())
                   .arg(s.initUrl.isValid() ? QStringLiteral("i") : QString());
    if (list.ended)
        out << QStringLiteral("end");
    return out.join(QLatin1Char(' '));
}

QByteArray be32(qint64 v)
{
    return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0'));
}

QByteArray box(const char *type, const QByteArray &body)
{
    return be32(body.size() + 8) + type + body;
}

// An fMP4 init segment and a fragment of `samples` of AAC (LC, 44.1 kHz,
// stereo).
QByteArray fmp4Segment(const QByteArrayList &samples)
{
    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    const QByteArray esds =
        hex("00000000 0316 0001 00 0411 40 15 000000 00000000 00000000 0502 1210");
    const QByteArray stsd =
        box("stsd", hex("00000000 00000001") + box("mp4a", QByteArray(28, 0) + box("esds", esds)));
    const QByteArray trak = box("tkhd", hex("00000000 00000000 00000000 00000001")) +
                            box("mdia", box("hdlr", hex("00000000 00000000") + "soun") +
                                            box("minf", box("stbl", stsd)));
    QByteArray trun = hex("00000201") + be32(samples.size()) + be32(0); // then each one's size
    for (const QByteArray &sample : samples)
        trun += be32(sample.size());
    QByteArray moof =
        box("moof", box("traf", box("tfhd", hex("00000000 00000001")) + box("trun", trun)));
    moof[moof.indexOf("trun") + 15] = char(moof.size() + 8); // the data follows mdat's header
    return box("ftyp", "iso6") + box("moov", box("trak", trak)) + moof +
           box("mdat", samples.join());
}

QByteArray adtsFrame(const QByteArray &sample)
{
    const int length = int(sample.size()) + 7;
    return QByteArray::fromHex("FFF15080") + char(length >> 3) + char((length & 7) << 5 | 0x1F) +
           char(0xFC) + sample;
}

} // namespace

void TestPlaylistParser::detectsByContentNotType_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Kind>("kind");
    const QByteArray pls = "[playlist]\nFile1=http://a/\nNumberOfEntries=1\n";
    const QByteArray xspf = "<?xml version=\"1.0\"?><playlist xmlns=\"http://xspf.org/ns/0/\">"
                            "<trackList><track><location>http://a/</location></track>"
                            "</trackList></playlist>";
    QTest::newRow("pls") << QByteArray("audio/x-scpls") << pls << Kind::Pls;
    QTest::newRow("pls as html, BOM, blank lines")
        << QByteArray("text/html") << QByteArray("\xEF\xBB\xBF\n\n[Playlist]\r\nFile1=http://a/")
        << Kind::Pls;
    QTest::newRow("m3u") << QByteArray("audio/x-mpegurl")
                         << QByteArray("#EXTM3U\n#EXTINF:-1,x\nhttp://a/\n") << Kind::M3u;
    QTest::newRow("hls media playlist")
        << QByteArray("application/vnd.apple.mpegurl")
        << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\nseg0.ts\n") << Kind::Hls;
    QTest::newRow("hls master as text/plain")
        << QByteArray("text/plain")
        << QByteArray("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nlow/index.m3u8\n") << Kind::Hls;
    QTest::newRow("bare list, text/plain")
        << QByteArray("text/plain; charset=utf-8") << QByteArray("http://a/1\r\nhttp://b/2\r\n")
        << Kind::M3u;
    QTest::newRow("bare list served as html is not trusted")
        << QByteArray("text/html") << QByteArray("http://a/1\n") << Kind::NotPlaylist;
    QTest::newRow("text that is not a list")
        << QByteArray("text/plain") << QByteArray("hello world\nhttp://a/\n") << Kind::NotPlaylist;
    QTest::newRow("xspf") << QByteArray("application/xspf+xml") << xspf << Kind::Xspf;
    QTest::newRow("xspf as octet-stream")
        << QByteArray("application/octet-stream") << xspf << Kind::Xspf;
    QTest::newRow("html page") << QByteArray("text/html")
                               << QByteArray("<!DOCTYPE html><html><body>x</body></html>")
                               << Kind::NotPlaylist;
    QTest::newRow("mp3 bytes") << QByteArray("application/octet-stream")
                               << QByteArray("ID3\x03\x00\x00\x00\x00\x00\x21", 10)
                               << Kind::NotPlaylist;
    QTest::newRow("empty") << QByteArray("audio/x-scpls") << QByteArray() << Kind::NotPlaylist;
    QTest::newRow("asx") << QByteArray("video/x-ms-asf")
                         << QByteArray("<asx version=\"3.0\"><entry><ref href=\"http://a/\"/>"
                                       "</entry></asx>")
                         << Kind::Asx;
    QTest::newRow("asx upper case after a declaration")
        << QByteArray("text/plain")
        << QByteArray("<?xml version=\"1.0\"?>\r\n<ASX VERSION=3><ENTRY><REF HREF=http://a/>"
                      "</ENTRY></ASX>")
        << Kind::Asx;
}

void TestPlaylistParser::detectsByContentNotType()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    QFETCH(Kind, kind);
    QCOMPARE(playlist::detect(type, body), kind);
}

void TestPlaylistParser::plsEntriesInNumberOrder()
{
    const QByteArray body = "[playlist]\nFile2=http://two.example/b\nTitle2=Two\n"
                            "file1 = http://one.example/a?x=1&y=2\nFile10=relative.mp3\n"
                            "File3=file:///etc/passwd\nFile4=http://two.example/b\n";
    const QList<QUrl> got =
        playlist::entries(Kind::Pls, body, QUrl("http://host.example/dir/list.pls"), 10);
    QCOMPARE(got, (QList<QUrl>{QUrl("http://one.example/a?x=1&y=2"), QUrl("http://two.example/b"),
                               QUrl("http://host.example/dir/relative.mp3")}));
}

void TestPlaylistParser::plsNumbersAboveNineWithGapsAndOutOfOrder()
{
    // Ordered as numbers, not as text (File10 after File9, not after File1).
    const QByteArray body = "[playlist]\nNumberOfEntries=5\nFile12=http://s.example/12\n"
                            "File10=http://s.example/10\nFile2=http://s.example/2\n"
                            "File11=http://s.example/11\nFile9=http://s.example/9\n";
    const QList<QUrl> got = playlist::entries(Kind::Pls, body, QUrl("http://h/list.pls"), 10);
    QCOMPARE(got, (QList<QUrl>{QUrl("http://s.example/2"), QUrl("http://s.example/9"),
                               QUrl("http://s.example/10"), QUrl("http://s.example/11"),
                               QUrl("http://s.example/12")}));
    // The cap keeps the lowest numbers.
    QCOMPARE(playlist::entries(Kind::Pls, body, QUrl("http://h/list.pls"), 2),
             (QList<QUrl>{QUrl("http://s.example/2"), QUrl("http://s.example/9")}));
}

void TestPlaylistParser::m3uResolvesRelativeAndDropsLocalFiles()
{
    const QByteArray body =
        "#EXTM3U\r\n#EXTINF:-1,One\r\n/abs/stream\r\n\r\n"
        "  https://cdn.example/s.aac  \r\n/etc/passwd?\r\nfile:///tmp/x.mp3\r\n";
    const QList<QUrl> got =
        playlist::entries(Kind::M3u, body, QUrl("https://radio.example/p/list.m3u?token=1"), 10);
    QCOMPARE(got, (QList<QUrl>{QUrl("https://radio.example/abs/stream"),
                               QUrl("https://cdn.example/s.aac"),
                               QUrl("https://radio.example/etc/passwd?")}));
}

void TestPlaylistParser::xspfTakesFirstLocationPerTrackEvenWhenTruncated()
{
    const QByteArray body =
        "<playlist xmlns=\"http://xspf.org/ns/0/\"><trackList>"
        "<track><location>http://a.example/1</location><location>http://a.example/alt</location>"
        "</track><track><title>t</title><location>http://b.example/2</location></track>"
        "<track><location>http://c.exa";
    const QList<QUrl> got = playlist::entries(Kind::Xspf, body, QUrl("http://h/"), 10);
    QCOMPARE(got, (QList<QUrl>{QUrl("http://a.example/1"), QUrl("http://b.example/2")}));
}

void TestPlaylistParser::asxReadsEveryRefInOrderTolerantly()
{
    // Mixed case, unquoted and single-quoted values, a bare ampersand, a
    // relative and a local entry, two refs in one entry, and a cut-off end.
    const QByteArray body =
        "<Asx Version=3.0>\n<Title>Station & Co</Title>\n"
        "<Entry><Title>Main</Title><Ref HREF = \"http://one.example/a?x=1&amp;y=2\"/>"
        "<ref href='http://two.example/b' /></Entry>\n"
        "<ENTRY><REF HREF=mms://three.example/c></ENTRY>\n"
        "<entry><ref href=\"file:///etc/passwd\"/></entry>\n"
        "<entry><ref href=\"rel/d.mp3\"/></entry>\n"
        "<entry><ref href=\"http://cut.exa";
    const QList<QUrl> got =
        playlist::entries(Kind::Asx, body, QUrl("http://host.example/dir/list.asx"), 10);
    QCOMPARE(got, (QList<QUrl>{QUrl("http://one.example/a?x=1&y=2"), QUrl("http://two.example/b"),
                               QUrl("mms://three.example/c"),
                               QUrl("http://host.example/dir/rel/d.mp3")}));
    QVERIFY(!playlist::isMediaContentType("video/x-ms-asf"));
    QVERIFY(!playlist::isMediaContentType("audio/x-ms-wax"));
}

void TestPlaylistParser::entriesAreCapped()
{
    QByteArray body;
    for (int i = 0; i < 100; ++i)
        body += "http://s.example/" + QByteArray::number(i) + "\n";
    const QList<QUrl> got = playlist::entries(Kind::M3u, body, QUrl("http://h/"), 5);
    QCOMPARE(got.size(), 5);
    QCOMPARE(got.first(), QUrl("http://s.example/0"));
}

void TestPlaylistParser::largePlaylistParsesQuickly()
{
    // The size the resolver lets through (512 KB) parses on the UI thread. A
    // parse that goes over the text again for each entry takes minutes at
    // this size, a linear one milliseconds: the bound tells them apart even
    // on a busy machine under the sanitizers.
    QByteArray body = "#EXTM3U\n";
    for (int i = 0; body.size() < 512 * 1024; ++i)
        body += "#EXTINF:-1,Entry " + QByteArray::number(i) + "\nhttp://s.example/" +
                QByteArray::number(i) + "\n";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(playlist::detect("audio/x-mpegurl", body), Kind::M3u);
    QCOMPARE(playlist::entries(Kind::M3u, body, QUrl("http://h/"), 32).size(), 32);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void TestPlaylistParser::mediaContentTypes()
{
    QVERIFY(playlist::isMediaContentType("audio/mpeg"));
    QVERIFY(playlist::isMediaContentType("Audio/AAC; charset=x"));
    QVERIFY(playlist::isMediaContentType("application/ogg"));
    QVERIFY(!playlist::isMediaContentType("audio/x-mpegurl"));
    QVERIFY(!playlist::isMediaContentType("audio/x-scpls"));
    QVERIFY(!playlist::isMediaContentType("application/vnd.apple.mpegurl"));
    QVERIFY(!playlist::isMediaContentType("text/html"));
    QVERIFY(!playlist::isMediaContentType(""));
}

void TestPlaylistParser::titlesInTheirOwnCharset_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("UTF-8") << QByteArray("Caf\xC3\xA9") << QStringLiteral("Café");
    QTest::newRow("UTF-8 Chinese")
        << QByteArray("\xE4\xB8\xAD\xE6\x96\x87") << QStringLiteral("中文");
    QTest::newRow("Latin-1") << hex("436166e9204f6ce9") << QStringLiteral("Café Olé");
    QTest::newRow("Latin-1, accents here and there")
        << hex("4df6746c6579204372fc65202d204b69636b7374617274204d79204865617274")
        << QStringLiteral("Mötley Crüe - Kickstart My Heart");
    QTest::newRow("Windows-1251") << hex("cae8edee202d20c3f0f3efefe020eaf0eee2e8")
                                  << QStringLiteral("Кино - Группа крови");
    QTest::newRow("KOI8-R") << hex("ebc9cecf202d20e7d2d5d0d0c120cbd2cfd7c9")
                            << QStringLiteral("Кино - Группа крови");
    QTest::newRow("Shift-JIS")
        << hex("894691bd93638371834a838b202d2083748340815b83588367814583898375")
        << QStringLiteral("宇多田ヒカル - ファースト・ラブ");
    QTest::newRow("UTF-8 cut short")
        << QByteArray("ab\xE4\xB8") << QString::fromLatin1("ab\xE4\xB8");
    QTest::newRow("character references, as Icecast's admin page passes them")
        << QByteArray("&#1050;&#1080;&#1085;&#1086; - &#x413;&#X440;&#x443;&#x43f;&#x43F;&#x430; "
                      "&#128512; Caf\xE9 &#0; &#xD800; &#x110000; &#65 &#; &#x; &#123456789; &#x41")
        << QStringLiteral(
               "Кино - Группа 😀 Café &#0; &#xD800; &#x110000; &#65 &#; &#x; &#123456789; &#x41");
}

// Bytes as a station sends them, and the same title after GStreamer read it
// as Latin-1: both come out in the station's real charset.
void TestPlaylistParser::titlesInTheirOwnCharset()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(streamtitle::fromTags(bytes, {}), text);
    // GStreamer keeps UTF-8 and reads anything else as Latin-1.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString asGStreamerReadIt = utf8.decode(bytes);
    if (utf8.hasError())
        asGStreamerReadIt = QString::fromLatin1(bytes);
    QCOMPARE(streamtitle::fromTags(asGStreamerReadIt.toUtf8(), {}), text);
}

void TestPlaylistParser::icyMetadataBlock()
{
    QByteArray block("StreamTitle='Rock 'n' Roll - Caf\xE9';StreamUrl='http://x/';");
    block.append(QByteArray(9, '\0'));
    QCOMPARE(streamtitle::fromIcyMetadata(block), QStringLiteral("Rock 'n' Roll - Café"));
    QCOMPARE(streamtitle::fromIcyMetadata("StreamTitle='';"), QString());
    QCOMPARE(streamtitle::fromIcyMetadata("StreamUrl='x';"), QString());
    QCOMPARE(streamtitle::fromIcyMetadata("StreamTitle='unterminated"),
             QStringLiteral("unterminated"));
}

void TestPlaylistParser::composeTitleAndArtist()
{
    QCOMPARE(streamtitle::compose(" Song ", " Band "), QStringLiteral("Band - Song"));
    QCOMPARE(streamtitle::compose("Band - Song", "Band"), QStringLiteral("Band - Song"));
    QCOMPARE(streamtitle::compose("", "Band"), QStringLiteral("Band"));
    QCOMPARE(streamtitle::compose("Song", ""), QStringLiteral("Song"));
}

void TestPlaylistParser::icyBodyTakesOutTitles_data()
{
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("metaint");
    QTest::addColumn<int>("piece"); // bytes fed at a time
    QTest::newRow("metadata, byte by byte") << false << 16 << 1;
    QTest::newRow("chunked with metadata, odd pieces") << true << 16 << 7;
    QTest::newRow("chunked without metadata, at once") << true << 0 << 100000;
    QTest::newRow("metadata longer than the pieces") << false << 40 << 3;
    QTest::newRow("metadata, all at once") << false << 16 << 100000;
}

void TestPlaylistParser::icyBodyTakesOutTitles()
{
    QFETCH(bool, chunked);
    QFETCH(int, metaint);
    QFETCH(int, piece);
    // 100 bytes of audio; with metaint, a title after each interval but the
    // second, which is an empty block.
    QByteArray audio;
    for (int i = 0; i < 100; ++i)
        audio += char('a' + i % 26);
    QByteArray wire;
    QStringList sent;
    for (int at = 0; at<audio.size(); at += metaint> 0 ? metaint : audio.size()) {
        wire += audio.mid(at, metaint > 0 ? metaint : -1);
        if (metaint <= 0 || at + metaint > audio.size())
            continue;
        QByteArray block;
        if (at != metaint) {
            sent << QStringLiteral("Song %1").arg(at);
            block = "StreamTitle='" + sent.last().toUtf8() + "';";
            block.append(QByteArray((16 - block.size() % 16) % 16, '\0'));
        }
        wire += char(block.size() / 16) + block;
    }
    if (chunked) {
        QByteArray chunks;
        for (int at = 0; at < wire.size(); at += 30)
            chunks += QByteArray::number(qMin(30, int(wire.size()) - at), 16) + ";ext=1\r\n" +
                      wire.mid(at, 30) + "\r\n";
        wire = chunks + "0\r\n\r\n";
    }
    IcyBody body;
    QByteArray heard;
    QStringList titles;
    body.audio = [&](const QByteArray &bytes) { heard += bytes; };
    body.title = [&](const QString &title) {
        titles << title;
        // Between the audio before its block and after it.
        QCOMPARE(heard.size(), title.mid(5).toInt() + metaint);
    };
    body.reset(chunked, metaint);
    for (qsizetype at = 0; at < wire.size(); at += piece)
        QVERIFY(body.feed(wire.mid(at, piece)));
    QCOMPARE(heard, audio);
    QCOMPARE(titles, sent);
    QCOMPARE(body.finished(), chunked);

    body.reset(true, 0);
    QVERIFY(!body.feed("zz\r\n")); // not a chunk size
}

// A server sending a stream in small writes: read in pieces, the client
// hands on a few large ones, and what is left over after a while.
void TestPlaylistParser::clientReadsTheStreamInPieces()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    IcyHttpClient client;
    QByteArray heard;
    int pieces = 0;
    connect(&client, &IcyHttpClient::audio, this, [&](const QByteArray &bytes) {
        heard += bytes;
        ++pieces;
    });
    client.readInPieces(4000, 1000);
    client.open(QUrl(QStringLiteral("http://127.0.0.1:%1/live").arg(server.serverPort())), 5000);
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QByteArray request;
    QTRY_VERIFY((request += peer->readAll()).endsWith("\r\n\r\n"));
    peer->write("ICY 200 OK\r\ncontent-type: audio/mpeg\r\n\r\n");
    QByteArray sent;
    for (int i = 0; i < 40; ++i) {
        const QByteArray write(200, char('a' + i % 26));
        peer->write(write);
        peer->flush();
        sent += write;
        QTest::qWait(5);
    }
    QTRY_VERIFY(heard.size() >= 8000);
    QVERIFY2(pieces <= 5, qPrintable(QStringLiteral("%1 pieces for 40 writes").arg(pieces)));
    peer->write("tail");
    QTRY_COMPARE_WITH_TIMEOUT(heard, sent + "tail", 5000);
}

// The same positions whether the bytes are in memory or in a file.
void TestPlaylistParser::timelinePositions_data()
{
    QTest::addColumn<qint64>("memoryLimit");
    QTest::newRow("in memory") << StreamTimeline::kMemoryLimitBytes;
    QTest::newRow("in a file") << qint64(0);
    QTest::newRow("into a file when it grows") << qint64(1000);
}

void TestPlaylistParser::timelinePositions()
{
    QFETCH(qint64, memoryLimit);
    StreamTimeline timeline(1000, memoryLimit);
    QCOMPARE(timeline.keptInFile(), memoryLimit < 1000);
    timeline.setByteRate(100); // 100 bytes a second
    timeline.append(QByteArray(300, 'a'));
    timeline.markTitle(QStringLiteral("First"));
    timeline.append(QByteArray(300, 'b'));
    // Before the first title: the first names the song already on.
    QCOMPARE(timeline.titleAt(0), QStringLiteral("First"));
    timeline.beginConnection();
    timeline.append(QByteArray(300, 'c'));
    timeline.markTitle(QStringLiteral("Second"));
    timeline.append(QByteArray(300, 'd'));
    // 1200 bytes came, 1000 are kept: the oldest piece went, whole.
    QCOMPARE(timeline.startOffset(), 300);
    QCOMPARE(timeline.endOffset(), 1200);
    QVERIFY(timeline.read(299, 10).isEmpty());
    QCOMPARE(timeline.read(590, 20), QByteArray(10, 'b') + QByteArray(10, 'c'));
    QCOMPARE(timeline.read(890, 120), QByteArray(10, 'c') + QByteArray(110, 'd')); // wraps
    QCOMPARE(timeline.read(1190, 50), QByteArray(10, 'd'));
    QVERIFY(timeline.read(1200, 10).isEmpty());
    // Titles as heard, across the gap.
    QCOMPARE(timeline.titleAt(300), QStringLiteral("First"));
    QCOMPARE(timeline.titleAt(899), QStringLiteral("First"));
    QCOMPARE(timeline.titleAt(900), QStringLiteral("Second"));
    QCOMPARE(timeline.marks().size(), 3); // First, the gap, Second
    QCOMPARE(timeline.marks().at(1).kind, StreamTimeline::Mark::Kind::Gap);
    QCOMPARE(timeline.marks().at(1).offset, 600);
    // Time at the byte rate; gaps take none.
    QCOMPARE(timeline.msForBytes(timeline.endOffset() - timeline.startOffset()), 9000);
    QCOMPARE(timeline.bytesForMs(2500), 250);
    // A smaller capacity lets go of the oldest at once; the title heard
    // at the new start stays though its place is gone.
    timeline.append(QByteArray(300, 'e'));
    timeline.setCapacity(300);
    QCOMPARE(timeline.startOffset(), 1200);
    QCOMPARE(timeline.titleAt(1200), QStringLiteral("Second"));
    QCOMPARE(timeline.read(1200, 500), QByteArray(300, 'e'));
    // A larger one keeps what was held, moved into a file above the limit;
    // the file has no name: nothing is left of it after a crash.
    timeline.setCapacity(1500);
    timeline.append(QByteArray(1000, 'f'));
    QCOMPARE(timeline.keptInFile(), memoryLimit < 1500);
    QCOMPARE(timeline.read(1200, 400), QByteArray(300, 'e') + QByteArray(100, 'f'));
    QCOMPARE(timeline.read(2490, 20), QByteArray(10, 'f'));
    QVERIFY(QDir(TimelineRing::fileDirectory()).entryList(QDir::Files).isEmpty());
}

// HLS segments give the time of their bytes; each may have its own rate.
void TestPlaylistParser::timelineTimeFromSegmentDurations()
{
    StreamTimeline timeline(2000);
    timeline.append(QByteArray(1000, 'a'), 2000);
    timeline.append(QByteArray(500, 'b'), 2000);
    QCOMPARE(timeline.timeAt(500), 1000);
    QCOMPARE(timeline.timeAt(1250), 3000);
    QCOMPARE(timeline.offsetAt(3000), 1250);
    QCOMPARE(timeline.offsetAt(timeline.timeAt(1500) - 1500), 1125);
    // The oldest segment let go: the times of what is kept stay.
    timeline.append(QByteArray(1000, 'c'), 4000);
    QCOMPARE(timeline.startOffset(), 1000);
    QCOMPARE(timeline.timeAt(1250), 3000);
    QCOMPARE(timeline.timeAt(timeline.endOffset()) - timeline.timeAt(timeline.startOffset()), 6000);
}

namespace {
// An Ogg page of one packet of `size` bytes; a BOS page holds Vorbis's
// first header, at 1000 samples a second.
QByteArray oggPage(qint64 granule, int size, bool bos = false)
{
    QByteArray body(size, 'x');
    if (bos)
        body.replace(0, 16, QByteArray("\x01vorbis\0\0\0\0\x01\xe8\x03\0\0", 16));
    QByteArray page("OggS\0", 5);
    page += char(bos ? 2 : 0);
    for (int i = 0; i < 8; ++i)
        page += char(granule >> (8 * i));
    page += QByteArray(12, '\0') + char(1) + char(size) + body;
    return page;
}
} // namespace

// Seeks in an Ogg stream start at a page; in a chain the decoder was not
// in, after that chain's headers.
void TestPlaylistParser::oggRestartsAtAPageAfterItsChainsHeaders()
{
    const QByteArray headers = oggPage(0, 30, true) + oggPage(0, 50);
    QByteArray first = headers;
    for (int second = 1; second <= 3; ++second)
        first += oggPage(second * 1000, 200); // 228 bytes a second
    OggChains ogg;
    ogg.restart(0);
    for (qsizetype at = 0; at < first.size(); at += 7) // pages cut across pieces
        ogg.append(at, first.mid(at, 7));
    QCOMPARE(ogg.byteRate(), 228.0);
    ogg.append(first.size(), oggPage(0, 30, true).left(40)); // cut by a new connection
    const qint64 second = first.size() + 40;
    ogg.restart(second);
    ogg.append(second, QByteArray("OggS\x01-") + headers + oggPage(1000, 100)); // not a page first
    const qint64 headersEnd = headers.size(), audio2 = second + 6 + headersEnd;

    const auto start = ogg.startAt(headersEnd + 100, headersEnd, headersEnd + 300);
    QCOMPARE(start.offset, headersEnd); // the page it is in
    QVERIFY(!start.otherChain);
    const auto across = ogg.startAt(audio2, headersEnd, audio2 + 10); // maybe still in the first
    QVERIFY(across.otherChain);
    QCOMPARE(across.headers, headers);
    const auto into = ogg.startAt(headersEnd + 100, audio2, audio2 + 10);
    QCOMPARE(into.offset, headersEnd);
    QVERIFY(into.otherChain);
    QCOMPARE(into.headers, headers);
    const auto back = ogg.startAt(audio2 - 20, headersEnd, audio2 + 10);
    QCOMPARE(back.offset, second); // within the headers: all of them
    QVERIFY(back.otherChain);
    QVERIFY(back.headers.isEmpty());
    ogg.forgetBefore(headersEnd + 228); // the first chain's headers are still there
    QCOMPARE(ogg.startAt(headersEnd + 228, audio2, audio2 + 10).headers, headers);
}

void TestPlaylistParser::hlsVariantPlayed_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("variant");
    QTest::newRow("the first listed")
        << QByteArray("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000\nlow/a.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=128000\nhigh/a.m3u8\n")
        << QStringLiteral("http://s/hls/low/a.m3u8");
    QTest::newRow("its audio group's default rendition")
        << QByteArray("#EXTM3U\n"
                      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"a, b\",URI=\"en.m3u8\"\n"
                      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",DEFAULT=YES,URI=\"main.m3u8\"\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO=\"aac\"\nvideo.m3u8\n")
        << QStringLiteral("http://s/hls/main.m3u8");
    QTest::newRow("local files are not followed")
        << QByteArray("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nfile:///etc/passwd\n") << QString();
}

void TestPlaylistParser::hlsVariantPlayed()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, variant);
    QCOMPARE(hls::variantOf(body, QUrl(QStringLiteral("http://s/hls/master.m3u8"))).toString(),
             variant);
}

void TestPlaylistParser::hlsMediaPlaylists_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("segments"); // empty: refused
    const QByteArray head = "#EXTM3U\n#EXT-X-TARGETDURATION:4\n";
    QTest::newRow("sequence, discontinuity, init segment, end")
        << head + "#EXT-X-MEDIA-SEQUENCE:41\n#EXTINF:3.99,\na.ts\n#EXT-X-DISCONTINUITY\n"
                  "#EXT-X-MAP:URI=\"init.mp4\"\n#EXTINF:4,\nb.m4s\n#EXTINF:2.5,\r\nc.m4s\r\n"
                  "#EXT-X-ENDLIST\n"
        << QStringLiteral("41:3990 42:4000di 43:2500i end");
    QTest::newRow("a local file keeps its number, not its place")
        << head + "#EXTINF:4,\nfile:///tmp/a.ts\n#EXTINF:4,\nb.ts\n"
        << QStringLiteral("1:4000");
    QTest::newRow("a media sequence after the first segment numbers nothing anew")
        << head + "#EXT-X-MEDIA-SEQUENCE:41\n#EXTINF:4,\na.ts\n#EXT-X-MEDIA-SEQUENCE:7\n"
                  "#EXTINF:4,\nb.ts\n"
        << QStringLiteral("41:4000 42:4000");
    QTest::newRow("no target duration") << QByteArray("#EXTM3U\n#EXTINF:4,\na.ts\n") << QString();
    QTest::newRow("larger than a playlist can be")
        << head + QByteArray(hls::kMaxPlaylistBytes, '#') << QString();
    QByteArray many = head;
    for (int i = 0; i <= hls::kMaxSegments; ++i)
        many += "#EXTINF:1,\ns.ts\n";
    QTest::newRow("more segments than a playlist can have") << many << QString();
}

void TestPlaylistParser::hlsMediaPlaylists()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, segments);
    hls::MediaPlaylist list;
    const bool read = hls::parseMedia(body, QUrl(QStringLiteral("http://s/hls/a.m3u8")), &list);
    QCOMPARE(read, !segments.isEmpty());
    if (read)
        QCOMPARE(summary(list), segments);
}

void TestPlaylistParser::hlsResumesInOrderOrAtTheLiveEdge_data()
{
    QTest::addColumn<qint64>("last");
    QTest::addColumn<qint64>("next");
    QTest::addColumn<bool>("gap");
    // The list holds 10 to 15.
    QTest::newRow("first read: three before the end") << qint64(-1) << qint64(13) << false;
    QTest::newRow("in order") << qint64(12) << qint64(13) << false;
    QTest::newRow("nothing new") << qint64(15) << qint64(16) << false;
    QTest::newRow("slid out before they were read") << qint64(7) << qint64(10) << true;
    QTest::newRow("the sequence started over") << qint64(90) << qint64(13) << true;
}

void TestPlaylistParser::hlsResumesInOrderOrAtTheLiveEdge()
{
    QFETCH(qint64, last);
    QFETCH(qint64, next);
    QFETCH(bool, gap);
    hls::MediaPlaylist list;
    for (qint64 sequence = 10; sequence <= 15; ++sequence)
        list.segments.append({sequence, 4000, QUrl(QStringLiteral("http://s/a.ts")), {}, false});
    const hls::Resume resume = hls::resumeAt(list, last, 3);
    QCOMPARE(resume.next, next);
    QCOMPARE(resume.gap, gap);
}

// What recording and the timeline get of fMP4: each AAC sample behind an
// ADTS header; of a cut or lying segment, only what lies within its boxes.
void TestPlaylistParser::fmp4AudioWithinItsBoxes_data()
{
    QTest::addColumn<QByteArray>("segment");
    QTest::addColumn<QByteArray>("audio");
    QTest::addColumn<bool>("aac");
    const QByteArray a(200, 'a'), b(300, 'b');
    const QByteArray whole = fmp4Segment({a, b});
    const qsizetype moof = whole.indexOf("moof") - 4, trun = whole.indexOf("trun") + 4;
    const auto patched = [&](qsizetype at, const QByteArray &bytes) {
        return QByteArray(whole).replace(at, bytes.size(), bytes);
    };
    QTest::newRow("whole") << whole << adtsFrame(a) + adtsFrame(b) << true;
    QTest::newRow("cut inside a sample") << whole.chopped(10) << adtsFrame(a) << true;
    QTest::newRow("a moof larger than the segment")
        << patched(moof, be32(1 << 30)) << QByteArray() << true;
    QTest::newRow("more samples than the trun holds")
        << patched(trun + 4, be32(50)) << QByteArray() << true;
    QTest::newRow("data before the segment")
        << patched(trun + 8, be32(0xFFFFFC18)) << QByteArray() << true;
    QTest::newRow("a sample past the segment")
        << patched(trun + 16, be32(1 << 20)) << adtsFrame(a) << true;
    QTest::newRow("no sound track")
        << patched(whole.indexOf("soun"), "vide") << QByteArray() << false;
}

void TestPlaylistParser::fmp4AudioWithinItsBoxes()
{
    QFETCH(QByteArray, segment);
    QFETCH(QByteArray, audio);
    QFETCH(bool, aac);
    Fmp4Audio reader;
    QList<StreamTap::Format> told;
    QByteArray heard;
    reader.started = [&](StreamTap::Format format) { told << format; };
    reader.audio = [&](const char *data, qsizetype size) { heard.append(data, size); };
    QCOMPARE(reader.feed(segment).toHex(), audio.toHex());
    QCOMPARE(told, QList{aac ? StreamTap::Format::Aac : StreamTap::Format::Unknown});
    QCOMPARE(heard, audio);
}

// A transport stream packet of `pid` (payload only), its payload padded.
static QByteArray tsPacket(int pid, bool unitStart, const QByteArray &payload)
{
    QByteArray p(188, char(0xFF));
    p[0] = 0x47;
    p[1] = char((unitStart ? 0x40 : 0) | pid >> 8);
    p[2] = char(pid & 0xFF);
    p[3] = 0x10;
    return p.replace(4, payload.size(), payload);
}

// What recording gets of a transport stream with a stray packet in it (one
// whose successor is out of step) must not depend on where the network cut
// the stream.
void TestPlaylistParser::tsAudioTheSameHoweverCut_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<qsizetype>("cut");
    const QByteArray pat = QByteArray::fromHex("0000b00d0001c100000001e10000000000");
    const QByteArray pmt = QByteArray::fromHex("0002b0120001c10000e101f0000fe101f00000000000");
    const QByteArray stream =
        tsPacket(0, true, pat) + tsPacket(0x100, true, pmt) +
        tsPacket(0x101, true, QByteArray::fromHex("000001c00000800000") + QByteArray(20, 'a')) +
        tsPacket(0x101, false, QByteArray(184, 'j')) + "xyz" +
        tsPacket(0x101, false, QByteArray(184, 'b')) + tsPacket(0x101, false, QByteArray(184, 'c'));
    QTest::newRow("cut after the stray packet") << stream << qsizetype(4 * 188);
    QTest::newRow("cut before it") << stream << qsizetype(3 * 188);
    QTest::newRow("cut inside the next") << stream << qsizetype(5 * 188 + 3);
}

void TestPlaylistParser::tsAudioTheSameHoweverCut()
{
    QFETCH(QByteArray, stream);
    QFETCH(qsizetype, cut);
    const auto read = [](const QList<QByteArray> &pieces) {
        TsAudio ts;
        QByteArray heard;
        ts.audio = [&](const char *data, qsizetype size) { heard.append(data, size); };
        for (const QByteArray &piece : pieces)
            ts.feed(piece);
        return heard;
    };
    const QByteArray whole = read({stream});
    QVERIFY(whole.contains(QByteArray(184, 'b')));
    QCOMPARE(read({stream.left(cut), stream.mid(cut)}), whole);
}

ORBITUNE_TEST_MAIN(TestPlaylistParser)
#include "tst_playlistparser.moc"
