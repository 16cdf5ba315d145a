#include "platform/base/Clock.h"
#include "platform/stream/Fmp4Audio.h"
#include "platform/stream/FrameByteRate.h"
#include "platform/stream/HlsClient.h"
#include "platform/stream/HlsPlaylist.h"
#include "platform/stream/HttpPolicy.h"
#include "platform/stream/IcyHttp.h"
#include "platform/stream/IcyHttpClient.h"
#include "platform/stream/OggChains.h"
#include "platform/stream/PlayPosition.h"
#include "platform/stream/PlaylistParser.h"
#include "platform/stream/StreamTimeline.h"
#include "platform/stream/StreamTitle.h"
#include "platform/stream/TimelineRing.h"
#include "platform/stream/TsAudio.h"
#include "support/TestClock.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <array>
#include <csignal>

#include <sys/resource.h>

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
    void redirectsFollowedNoLessSafe_data();
    void redirectsFollowedNoLessSafe();
    void byteRateFromTheFrames_data();
    void byteRateFromTheFrames();
    void timelinePositions_data();
    void timelinePositions();
    void timelineTimeFromSegmentDurations();
    void playPosition_data();
    void playPosition();
    void oggRestartsAtAPageAfterItsChainsHeaders();
    void hlsVariantPlayed_data();
    void hlsVariantPlayed();
    void hlsMediaPlaylists_data();
    void hlsMediaPlaylists();
    void hlsResumesInOrderOrAtTheLiveEdge_data();
    void hlsResumesInOrderOrAtTheLiveEdge();
    void fmp4AudioWithinItsBoxes_data();
    void fmp4AudioWithinItsBoxes();
    void hlsClientFollowsALivePlaylist_data();
    void hlsClientFollowsALivePlaylist();
    void tsAudioTheSameHoweverCut_data();
    void tsAudioTheSameHoweverCut();
};

namespace {

// The target duration in ms, then "sequence:ms" per segment, "d" after one
// that follows a discontinuity, "i" after one with an init segment, "k" after
// an encrypted one, "r" after a byte range; "end" when the list ends.
QString summary(const hls::MediaPlaylist &list)
{
    QStringList out{QString::number(list.targetDurationMs)};
    for (const hls::Segment &s : list.segments)
        out << QStringLiteral("%1:%2%3%4%5%6")
                   .arg(s.sequence)
                   .arg(s.durationMs)
                   .arg(s.discontinuity ? QStringLiteral("d") : QString())
                   .arg(s.initUrl.isValid() ? QStringLiteral("i") : QString())
                   .arg(s.encrypted ? QStringLiteral("k") : QString())
                   .arg(s.byteRange ? QStringLiteral("r") : QString());
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

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

// An fMP4 init segment of AAC with the AudioSpecificConfig `config` (hex;
// LC, 44.1 kHz, stereo unless told).
QByteArray fmp4Init(const char *config = "1210")
{
    const QByteArray asc = hex(config);
    const auto length = [](qsizetype n) { return QByteArray(1, char(n)); };
    const QByteArray decoder =
        hex("40 15 000000 00000000 00000000") + "\x05" + length(asc.size()) + asc;
    const QByteArray esds = hex("00000000") + "\x03" + length(3 + 2 + decoder.size()) +
                            hex("000100") + "\x04" + length(decoder.size()) + decoder;
    const QByteArray stsd =
        box("stsd", hex("00000000 00000001") + box("mp4a", QByteArray(28, 0) + box("esds", esds)));
    const QByteArray trak = box("tkhd", hex("00000000 00000000 00000000 00000001")) +
                            box("mdia", box("hdlr", hex("00000000 00000000") + "soun") +
                                            box("minf", box("stbl", stsd)));
    return box("ftyp", "iso6") + box("moov", box("trak", trak));
}

// The init segment and a fragment of `samples`, each one's size in the trun.
QByteArray fmp4Segment(const QByteArrayList &samples, const char *config = "1210")
{
    QByteArray trun = hex("00000201") + be32(samples.size()) + be32(0); // then each one's size
    for (const QByteArray &sample : samples)
        trun += be32(sample.size());
    QByteArray moof =
        box("moof", box("traf", box("tfhd", hex("00000000 00000001")) + box("trun", trun)));
    moof[moof.indexOf("trun") + 15] = char(moof.size() + 8); // the data follows mdat's header
    return fmp4Init(config) + moof + box("mdat", samples.join());
}

// The init segment and a fragment of runs of samples of one byte (tfhd's
// default size): each {where in the mdat's data it starts, or -1 where the
// run before ended; how many}.
QByteArray fmp4Runs(const QList<QPair<int, int>> &runs, const QByteArray &mdat)
{
    qsizetype moofSize = 8 + 8 + 20;
    for (const auto &run : runs)
        moofSize += run.first < 0 ? 16 : 20;
    QByteArray traf = box("tfhd", hex("00000010 00000001 00000001"));
    for (const auto &[at, count] : runs)
        traf += box("trun", at < 0 ? hex("00000000") + be32(count)
                                   : hex("00000001") + be32(count) + be32(moofSize + 8 + at));
    return fmp4Init() + box("moof", box("traf", traf)) + box("mdat", mdat);
}

// `sample` behind an ADTS header of AAC LC (44.1 kHz, stereo unless told).
QByteArray adtsFrame(const QByteArray &sample, const char *head = "FFF15080")
{
    const int length = int(sample.size()) + 7;
    return hex(head) + char(length >> 3) + char((length & 7) << 5 | 0x1F) + char(0xFC) + sample;
}

QByteArray adtsFrames(const QByteArray &samples)
{
    QByteArray out;
    for (const char c : samples)
        out += adtsFrame(QByteArray(1, c));
    return out;
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
    // And as our own client reads them, from an ICY metadata block.
    QCOMPARE(streamtitle::fromIcyMetadata("StreamTitle='" + bytes + "';"), text);
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
    // The bit rate in bit/s where kbit/s is meant.
    peer->write("ICY 200 OK\r\ncontent-type: audio/mpeg\r\nicy-br: 128000\r\n\r\n");
    QByteArray sent;
    for (int i = 0; i < 40; ++i) {
        const QByteArray write(200, char('a' + i % 26));
        peer->write(write);
        peer->flush();
        sent += write;
        QTest::qWait(5);
    }
    QTRY_VERIFY(heard.size() >= 8000);
    QCOMPARE(client.bitrateKbps(), 128);
    QVERIFY2(pieces <= 5, qPrintable(QStringLiteral("%1 pieces for 40 writes").arg(pieces)));
    peer->write("tail");
    QTRY_COMPARE_WITH_TIMEOUT(heard, sent + "tail", 5000);
    // Then silence on a connection that stays open: a failure, not a wait
    // for ever.
    QSignalSpy failed(&client, &IcyHttpClient::failed);
    client.setIdleTimeout(300);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
    QVERIFY2(failed.at(0).at(0).toString().startsWith(QLatin1String("Nothing came")),
             qPrintable(failed.at(0).at(0).toString()));
}

// The stream client and probe follow a redirect as the HLS client does:
// never from HTTPS down to plain HTTP.
void TestPlaylistParser::redirectsFollowedNoLessSafe_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QString>("to"); // empty: not followed
    const char *http = "http://a.example/live", *https = "https://a.example/live";
    const QList<std::array<const char *, 4>> rows = {
        {"relative", http, "/other?x=1", "http://a.example/other?x=1"},
        {"up to HTTPS", http, "https://b.example/s", "https://b.example/s"},
        {"scheme-relative keeps HTTPS", https, "//b.example/s", "https://b.example/s"},
        {"HTTPS down to HTTP", https, "http://b.example/s", ""},
        {"HTTPS down to HTTP, in capitals", "HTTPS://a.example/", "HTTP://b.example/s", ""},
        {"another scheme", http, "file:///etc/passwd", ""},
        {"no host", http, "http:///s", ""},
    };
    for (const auto &[name, from, location, to] : rows)
        QTest::newRow(name) << QString::fromLatin1(from) << QByteArray(location)
                            << QString::fromLatin1(to);
}

void TestPlaylistParser::redirectsFollowedNoLessSafe()
{
    QFETCH(QString, from);
    QFETCH(QByteArray, location);
    QFETCH(QString, to);
    QCOMPARE(httppolicy::redirectTarget(QUrl(from), location).toString(), to);
}

// Time-shift's clock: MP3 and ADTS AAC timed by their own frames, not by
// what the station announces; the rate in bytes per second, 0: not known.
void TestPlaylistParser::byteRateFromTheFrames_data()
{
    QTest::addColumn<int>("codec");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("piece"); // bytes read at a time
    QTest::addColumn<double>("rate");
    const auto frames = [](const QByteArray &header, int size, int count) {
        QByteArray frame = header + QByteArray(size - header.size(), '\x55');
        return frame.repeated(count);
    };
    const int mp3 = int(FrameByteRate::Codec::Mp3), aac = int(FrameByteRate::Codec::Aac);
    // MPEG-1 layer III, 128 kbit/s at 44.1 kHz: 417 bytes for 1152 samples.
    QTest::newRow("MP3 at 128 kbit/s, in pieces cutting its headers")
        << mp3 << frames(hex("FFFB9064"), 417, 100) << 3 << 417 * 44100 / 1152.0;
    // MPEG-2 layer III, 32 kbit/s at 22.05 kHz: 104 bytes for 576 samples,
    // after a tag and bytes that look like a header once.
    QTest::newRow("MP3 at 32 kbit/s after other bytes")
        << mp3 << QByteArray("ID3 junk \xFF\xFB\x90 more") + frames(hex("FFF34064"), 104, 300)
        << 1000 << 104 * 22050 / 576.0;
    // MPEG-1 layer II (MP2), 192 kbit/s at 48 kHz: 576 bytes for 1152 samples.
    QTest::newRow("MP2 at 192 kbit/s")
        << mp3 << frames(hex("FFFDA444"), 576, 100) << 700 << 576 * 48000 / 1152.0;
    // ADTS AAC at 44.1 kHz, 93-byte frames of 1024 samples: 32 kbit/s,
    // which the station did not announce.
    const QByteArray adts = adtsFrame(QByteArray(86, '\x55'));
    QTest::newRow("AAC at 32 kbit/s, byte by byte")
        << aac << adts.repeated(60) << 1 << 93 * 44100 / 1024.0;
    QTest::newRow("AAC, less than a second: not known yet")
        << aac << adts.repeated(20) << 500 << 0.0;
    QByteArray noise(200000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QTest::newRow("noise as MP3") << mp3 << noise << 4096 << 0.0;
    QTest::newRow("noise as AAC") << aac << noise << 4096 << 0.0;
}

void TestPlaylistParser::byteRateFromTheFrames()
{
    QFETCH(int, codec);
    QFETCH(QByteArray, stream);
    QFETCH(int, piece);
    QFETCH(double, rate);
    FrameByteRate frames{FrameByteRate::Codec(codec)};
    for (qsizetype at = 0; at < stream.size(); at += piece)
        frames.append(stream.mid(at, piece));
    if (rate == 0)
        QCOMPARE(frames.byteRate(), 0.0);
    else
        QVERIFY2(qAbs(frames.byteRate() - rate) < rate / 100,
                 qPrintable(QStringLiteral("%1, not %2").arg(frames.byteRate()).arg(rate)));
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
    // bufferMB counts millions of bytes; above 64 of them, a file.
    QVERIFY(StreamTimeline(65'000'000).keptInFile());
    QVERIFY(!StreamTimeline(64'000'000).keptInFile());

    // A title repeated in every metadata block is one mark; a station that
    // changes it in every tiny block has its marks bounded.
    const qsizetype marksBefore = timeline.marks().size();
    for (int i = 0; i < 100; ++i) {
        timeline.append(QByteArray(1, 'g'));
        timeline.markTitle(QStringLiteral("Third"));
    }
    QCOMPARE(timeline.marks().size(), marksBefore + 1);
    QCOMPARE(timeline.titleAt(timeline.endOffset() - 1), QStringLiteral("Third"));
    StreamTimeline flood(100'000, memoryLimit);
    for (int i = 0; i < 5000; ++i) {
        flood.append(QByteArray(10, 'h'));
        flood.markTitle(QString::number(i));
    }
    QVERIFY(flood.marks().size() <= StreamTimeline::kMaxMarks);
    QCOMPARE(flood.titleAt(flood.endOffset()), QStringLiteral("4999"));

    // A file that can take no more (a full disk, here a file size limit):
    // what is kept goes on in memory, and nothing is read back as silence.
    if (memoryLimit > 0)
        return;
    rlimit fileSize{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &fileSize) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{4096, fileSize.rlim_max};
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    StreamTimeline full(100'000, 3000);
    const bool wasInFile = full.keptInFile();
    QByteArray sent;
    for (char c = '0'; c <= '9'; ++c) {
        sent += QByteArray(1000, c);
        full.append(sent.last(1000));
    }
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(wasInFile);
    QVERIFY(!full.keptInFile());
    QCOMPARE(full.endOffset(), sent.size());
    QVERIFY(full.endOffset() - full.startOffset() >= 2000);
    QCOMPARE(full.read(full.startOffset(), sent.size()), sent.mid(full.startOffset()));
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

    // A rate learnt from the audio times what comes after it, not what is
    // held (a paused position stays where it was); a change under 1% is none.
    StreamTimeline byRate(100000);
    byRate.setByteRate(1000);
    byRate.append(QByteArray(4000, 'a'));
    byRate.setByteRate(1005);
    QCOMPARE(byRate.timeAt(4000), 4000);
    byRate.setByteRate(2000);
    byRate.append(QByteArray(2000, 'b'));
    QCOMPARE(byRate.timeAt(2000), 2000);
    QCOMPARE(byRate.timeAt(6000), 5000);
}

// The play position in a timeline of 1000 bytes a second (a byte is a
// millisecond) keeping 30 s, by a script of steps: "recv N" the station
// sends N ms at once; "wait N" time passes while it sends, a second at a
// time; "play"; "pause" (held); "seek N"; "live"; "fed N" the sound was
// handed the bytes up to N only (else all of them).
void TestPlaylistParser::playPosition_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<qint64>("behind");
    QTest::addColumn<bool>("live");
    QTest::addColumn<qint64>("position");
    QTest::newRow("live: the position runs with the sound")
        << "recv 2000, play, wait 5000" << 0LL << true << 5000LL;
    QTest::newRow("live with all that is kept full: runs on")
        << "recv 2000, play, wait 45000" << 0LL << true << 45000LL;
    QTest::newRow("back 60 s reaches only the oldest")
        << "recv 2000, play, live, wait 40000, seek -60000" << 29500LL << false << 12000LL;
    QTest::newRow("End while playing follows live")
        << "recv 2000, play, wait 20000, seek -10000, live, wait 3000" << 0LL << true << 24500LL;
    QTest::newRow("End while held falls behind as the station goes on")
        << "recv 2000, play, wait 20000, pause, seek -5000, live, wait 10000" << 10000LL << false
        << 21500LL;
    QTest::newRow("forward to live while held falls behind too")
        << "recv 2000, play, wait 20000, pause, seek -10000, seek 9800, wait 4000" << 4000LL
        << false << 21500LL;
    QTest::newRow("held past what is kept: behind by all of it, the position stands")
        << "recv 2000, play, wait 5000, pause, wait 40000" << 28000LL << false << 5000LL;
    QTest::newRow("held past what is kept, the sound handed only what is gone")
        << "recv 2000, play, wait 5000, fed 7000, pause, wait 40000" << 28000LL << false << 5000LL;
    QTest::newRow("the station stalls past the sound's cushion: the position waits with it")
        << "recv 2000, play, wait 5000, stall 3000, wait 2000" << 0LL << true << 8900LL;
    QTest::newRow("paused while it ran dry: the position stands where the sound ran out")
        << "recv 2000, play, wait 5000, stall 3000, pause, recv 5000" << 5000LL << false << 7000LL;
    QTest::newRow("a stall within the cushion costs nothing")
        << "recv 2000, play, wait 5000, stall 1000, wait 2000" << 0LL << true << 8000LL;
    QTest::newRow("back when live's lag is longer than what is kept: the oldest")
        << "recv 25000, play, wait 2000, pause, recv 4000, seek -10000" << 0LL << false << 25000LL;
}

void TestPlaylistParser::playPosition()
{
    QFETCH(QString, script);
    QFETCH(qint64, behind);
    QFETCH(bool, live);
    QFETCH(qint64, position);
    TestClock clock(QDateTime::currentDateTimeUtc());
    StreamTimeline timeline(30000);
    timeline.setByteRate(1000);
    PlayPosition at(timeline, &clock);
    at.reset(0);
    bool playing = false;
    qint64 fed = -1;
    qint64 started = 0; // where the sound last started over
    const auto reached = [&] { return fed < 0 ? timeline.endOffset() : fed; };
    for (const QString &step : script.split(QStringLiteral(", "))) {
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const qint64 n = step.section(QLatin1Char(' '), 1).toLongLong();
        if (verb == QLatin1String("recv")) {
            timeline.append(QByteArray(qsizetype(n), 'a'));
        } else if (verb == QLatin1String("wait")) {
            for (qint64 ms = 0; ms < n; ms += 100) {
                clock.advance(100);
                at.caughtUpWith(reached()); // the sound is handed what comes
                timeline.append(QByteArray(100, 'a'));
            }
        } else if (verb == QLatin1String("stall")) {
            clock.advance(n);
        } else if (verb == QLatin1String("play")) {
            playing = true;
            at.setRunning(true);
        } else if (verb == QLatin1String("pause")) {
            playing = false;
            at.leaveLive(reached());
            at.standAt(reached());
        } else if (verb == QLatin1String("seek")) {
            started = at.seekBy(n, reached(), 500, playing);
            at.startAt(started);
        } else if (verb == QLatin1String("live")) {
            started = at.goLive(500, playing);
            at.startAt(started);
        } else if (verb == QLatin1String("fed")) {
            fed = n;
        } else {
            QFAIL(qPrintable(step));
        }
    }
    QCOMPARE(at.behindLiveMs(reached()), behind);
    QCOMPARE(at.isLive(), live);
    QCOMPARE(at.positionMs(reached()), position);
    QCOMPARE(at.startOffset(), started); // what the decoder began with, whatever ran dry
    QVERIFY(at.heardOffset(reached()) >= timeline.startOffset());
    QVERIFY(at.liveOffset() >= timeline.startOffset());
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
    quint32 crc = 0; // Ogg's: polynomial 0x04c11db7, unreflected, over the page
    for (const char c : std::as_const(page)) {
        crc ^= quint32(uchar(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000u ? crc << 1 ^ 0x04c11db7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i)
        page[22 + i] = char(crc >> 8 * i);
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
    // A page whose checksum fails is no page: a start in it is at the one before.
    const qint64 tail = audio2 + oggPage(1000, 100).size();
    QByteArray broken = oggPage(2000, 100);
    broken[40] = 'y';
    ogg.append(tail, broken + oggPage(3000, 100));
    QCOMPARE(ogg.startAt(tail + 50, audio2, tail).offset, audio2);
    QCOMPARE(ogg.startAt(tail + broken.size() + 10, audio2, tail).offset, tail + broken.size());
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
    QByteArray bare = "#EXTM3U\n";
    while (bare.size() < hls::kMaxPlaylistBytes - 100)
        bare += "#EXT-X-STREAM-INF:BANDWIDTH=1\n";
    QTest::newRow("a playlist's worth of variants without addresses") << bare << QString();
}

void TestPlaylistParser::hlsVariantPlayed()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, variant);
    // Read again at each reconnect, on the main thread: a parse that goes
    // over the rest for each line takes minutes on the largest, a linear
    // one milliseconds.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(hls::variantOf(body, QUrl(QStringLiteral("http://s/hls/master.m3u8"))).toString(),
             variant);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
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
        << QStringLiteral("4000 41:3990 42:4000di 43:2500i end");
    QTest::newRow("a local file keeps its number, not its place")
        << head + "#EXTINF:4,\nfile:///tmp/a.ts\n#EXTINF:4,\nb.ts\n"
        << QStringLiteral("4000 1:4000");
    QTest::newRow("encrypted until the key is none; byte ranges, of the init segment too")
        << head + "#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n#EXTINF:4,\na.ts\n"
                  "#EXT-X-KEY:METHOD=NONE\n#EXTINF:4,\n#EXT-X-BYTERANGE:100@0\nb.ts\n"
                  "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:4,\nc.ts\n"
                  "#EXT-X-KEY:METHOD=NONE\n#EXT-X-MAP:URI=\"i.mp4\",BYTERANGE=\"9@0\"\n"
                  "#EXTINF:4,\nd.m4s\n"
        << QStringLiteral("4000 0:4000k 1:4000r 2:4000k 3:4000ir");
    QTest::newRow("a target under a second is a second")
        << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:0.001\n#EXTINF:0.5,\na.ts\n")
        << QStringLiteral("1000 0:500");
    for (const char *target : {"1e300", "nan", "inf", "-4", "61"})
        QTest::addRow("target duration %s", target)
            << "#EXTM3U\n#EXT-X-TARGETDURATION:" + QByteArray(target) + "\n#EXTINF:4,\na.ts\n"
            << QString();
    for (const char *duration : {"1e300", "nan", "-inf", "60.5"})
        QTest::addRow("segment duration %s", duration) << head + "#EXTINF:" + duration + ",\na.ts\n"
                                                       << QString();
    for (const char *sequence : {"9223372036854775807", "-5", "99999999999999999999"})
        QTest::addRow("media sequence %s", sequence)
            << head + "#EXT-X-MEDIA-SEQUENCE:" + sequence + "\n#EXTINF:4,\na.ts\n"
            << QString();
    QTest::newRow("a media sequence after the first segment numbers nothing anew")
        << head + "#EXT-X-MEDIA-SEQUENCE:41\n#EXTINF:4,\na.ts\n#EXT-X-MEDIA-SEQUENCE:7\n"
                  "#EXTINF:4,\nb.ts\n"
        << QStringLiteral("4000 41:4000 42:4000");
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
    // A CDN edge behind the one read before: nothing new, nothing again.
    QTest::newRow("a playlist one older") << qint64(16) << qint64(17) << false;
    QTest::newRow("a playlist three older") << qint64(18) << qint64(19) << false;
    QTest::newRow("further back: started over") << qint64(19) << qint64(13) << true;
}

void TestPlaylistParser::hlsResumesInOrderOrAtTheLiveEdge()
{
    QFETCH(qint64, last);
    QFETCH(qint64, next);
    QFETCH(bool, gap);
    hls::MediaPlaylist list;
    for (qint64 sequence = 10; sequence <= 15; ++sequence)
        list.segments.append({sequence, 4000, QUrl(QStringLiteral("http://s/a.ts"))});
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
    QTest::newRow("HE-AAC: its AAC core")
        << fmp4Segment({a, b}, "2B920800") << adtsFrame(a, "FFF15C80") + adtsFrame(b, "FFF15C80")
        << true;
    QTest::newRow("HE-AAC v2: its core, mono")
        << fmp4Segment({a}, "EB098800") << adtsFrame(a, "FFF15840") << true;
    QTest::newRow("HE-AAC with its output rate spelled out")
        << fmp4Segment({a}, "2B978056220800") << adtsFrame(a, "FFF15C80") << true;
    QTest::newRow("a run goes on where the one before ended")
        << fmp4Runs({{0, 3}, {-1, 2}}, "abcde") << adtsFrames("abcde") << true;
    QTest::newRow("runs over the same bytes give them once")
        << fmp4Runs({{0, 3}, {0, 3}, {1, 2}, {-1, 1}}, "abcd") << adtsFrames("abcd") << true;
    QTest::newRow("a run outside the mdat") << fmp4Runs({{-1, 4}}, "abcd") << QByteArray() << true;
    QList<QPair<int, int>> runs(201, {-1, 1000});
    runs[0] = {0, 100};
    QTest::newRow("many runs past a small mdat")
        << fmp4Runs(runs, QByteArray(100, 'x')) << adtsFrames(QByteArray(100, 'x')) << true;
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

// A live playlist of four segments as a server script gives it: its newest
// segment at each reload, the last one staying. What the client hands on:
// each segment's name ("d" after one that does not go on from the one before),
// then how it ends.
void TestPlaylistParser::hlsClientFollowsALivePlaylist_data()
{
    QTest::addColumn<QByteArray>("tags");
    QTest::addColumn<QList<int>>("newest");
    QTest::addColumn<QString>("events");
    const QByteArray target = "#EXT-X-TARGETDURATION:1\n";
    QTest::newRow("growing on every other reload")
        << target << QList<int>{5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13}
        << QStringLiteral("s3 s4 s5 s6 s7 s8 s9 s10 s11 s12 s13 stopped");
    QTest::newRow("a lagging edge between fresh ones")
        << target << QList<int>{5, 4, 6, 5, 7, 6, 8, 7, 9, 8, 10}
        << QStringLiteral("s3 s4 s5 s6 s7 s8 s9 s10 stopped");
    QTest::newRow("a target of a millisecond")
        << QByteArray("#EXT-X-TARGETDURATION:0.001\n") << QList<int>{5}
        << QStringLiteral("s3 s4 s5 stopped");
    QTest::newRow("encrypted: for the demuxer") << target + "#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n"
                                                << QList<int>{5} << QStringLiteral("demuxer");
}

void TestPlaylistParser::hlsClientFollowsALivePlaylist()
{
    QFETCH(QByteArray, tags);
    QFETCH(QList<int>, newest);
    QFETCH(QString, events);
    // A second of target duration reloads in ten milliseconds.
    Clock::shared()->setTimeScale(0.01);
    const auto restore = qScopeGuard([] { Clock::shared()->setTimeScale(1); });
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    int reloads = 0;
    const auto answer = [&](const QByteArray &path) -> QByteArray {
        if (!path.endsWith(".m3u8"))
            return path.mid(1, path.indexOf('.') - 1);
        const int last = newest.at(qMin(reloads++, int(newest.size()) - 1));
        QByteArray list =
            "#EXTM3U\n" + tags + "#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(last - 3) + "\n";
        for (int s = last - 3; s <= last; ++s)
            list += "#EXTINF:1,\ns" + QByteArray::number(s) + ".ts\n";
        return list;
    };
    connect(&server, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *peer = server.nextPendingConnection())
            connect(peer, &QTcpSocket::readyRead, peer, [peer, &answer] {
                const QByteArray request =
                    peer->property("request").toByteArray() + peer->readAll();
                peer->setProperty("request", request);
                if (!request.contains("\r\n\r\n"))
                    return;
                const QByteArray body = answer(request.split(' ').value(1));
                peer->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n" + body);
                peer->disconnectFromHost();
            });
    });
    HlsClient client;
    QStringList heard; // segments ("s7"), then how it ended
    connect(&client, &HlsClient::segment, this, [&](const QByteArray &bytes, qint64, bool gap) {
        heard << QString::fromLatin1(bytes + (gap ? "d" : ""));
    });
    connect(&client, &HlsClient::opened, this, [&] {
        if (client.needsDemuxer())
            heard << QStringLiteral("demuxer");
    });
    connect(&client, &HlsClient::failed, this, [&](const QString &error) {
        heard << (error.startsWith(QLatin1String("The stream stopped")) ? "stopped" : error);
    });
    client.open(QUrl(QStringLiteral("http://127.0.0.1:%1/a.m3u8").arg(server.serverPort())), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty() && !heard.last().at(1).isDigit(), 20000);
    QCOMPARE(heard.join(QLatin1Char(' ')), events);
    // Paced by the target duration: the seven reloads that find nothing new
    // (half a target apart) after the script's, and no more.
    QVERIFY2(reloads <= newest.size() + 8, qPrintable(QString::number(reloads)));
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
