// Other players' station lists read into program entries, told apart by
// their content; what a hostile file can and cannot do; and the exported
// playlists reading back as the list they came from.

#include "support/TestEnv.h"

#include "platform/plist/PropertyList.h"
#include "store/ProgramEntry.h"
#include "store/ProgramExport.h"
#include "store/ProgramImport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace programimport;

namespace {

// "name|url|image", and "|group" for a program in one: the form the tables
// below write entries in.
QStringList flat(const QVariantList &entries)
{
    QStringList out;
    for (const QVariant &e : entries) {
        const QString group = program::group(e);
        out << program::name(e) + u'|' + program::url(e) + u'|' + program::image(e) +
                   (group.isEmpty() ? QString() : u'|' + group);
    }
    return out;
}

QByteArray manyM3uEntries(int count, const QByteArray &url)
{
    QByteArray bytes = "#EXTM3U\n";
    for (int i = 0; i < count; ++i)
        bytes += "#EXTINF:-1,Station " + QByteArray::number(i) + "\n" + url + "/" +
                 QByteArray::number(i) + "\n";
    return bytes;
}

} // namespace

class ProgramImportTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Format>("format");
        QTest::addColumn<QStringList>("leading"); // the first entries, in order
        QTest::addColumn<int>("count");           // -1: as many as fit
        QTest::addColumn<int>("withoutUrl");
        QTest::addColumn<bool>("truncated");

        QTest::newRow("m3u: #EXTINF names, logo, commas in the name, CRLF")
            << QByteArray("#EXTM3U\n#EXTINF:-1 tvg-logo=\"http://i/a.png\" group-title=\"x,y\","
                          "Alpha, the first\nhttp://s/a\r\n#EXTINF:-1,Beta\r\nhttps://s/b\r\n")
            << Format::M3U
            << QStringList{"Alpha, the first|http://s/a|http://i/a.png|x,y", "Beta|https://s/b|"}
            << 2 << 0 << false;
        QTest::newRow("m3u: #EXTGRP for the next address only, before group-title")
            << QByteArray("#EXTM3U\n#EXTGRP:News\nhttp://s/a\nhttp://s/b\n"
                          "#EXTINF:-1 group-title=\"Talk\",C\n#EXTGRP:Late \"Talk\"\n"
                          "http://s/c\n#EXTINF:-1 group-title=\"  \x01\",D\nhttp://s/d\n")
            << Format::M3U
            << QStringList{"s|http://s/a||News", "s|http://s/b|", "C|http://s/c||Late \"Talk\"",
                           "D|http://s/d|"}
            << 4 << 0 << false;
        QTest::newRow("m3u8 without header, by content; only http(s) kept")
            << QByteArray("\xEF\xBB\xBF"
                          "http://s.example/a\nfile:///etc/passwd\n#EXTINF:-1,Evil\n"
                          "javascript:alert(1)\nrelative.mp3\nftp://s/x\n#EXTINF:-1,Last\n")
            << Format::M3U << QStringList{"s.example|http://s.example/a|"} << 1 << 5 << false;
        QTest::newRow("m3u: a Latin-1 name")
            << QByteArray("#EXTM3U\n#EXTINF:-1,Caf\xE9\nhttp://s/c\n") << Format::M3U
            << QStringList{QStringLiteral("Caf\u00E9|http://s/c|")} << 1 << 0 << false;
        QTest::newRow("pls: numbered out of order, a title without a file")
            << QByteArray("[playlist]\nNumberOfEntries=3\nFile2=http://s/b\nTitle2=Beta\n"
                          "file1=http://s/a\nTitle1=Alpha\nTitle3=No address\nVersion=2\n")
            << Format::PLS << QStringList{"Alpha|http://s/a|", "Beta|http://s/b|"} << 2 << 1
            << false;
        QTest::newRow("xspf: first http location wins, image, a track without one")
            << QByteArray("<?xml version=\"1.0\"?><playlist version=\"1\" "
                          "xmlns=\"http://xspf.org/ns/0/\"><trackList>"
                          "<track><location>file:///x.mp3</location><location>"
                          "http://s/a?x=1&amp;y=2</location><title>Alpha &amp; Co</title>"
                          "<image>https://i/a.png</image></track>"
                          "<track><title>Nowhere</title></track>"
                          "<track><title>Beta</title><location>https://s/b</location>"
                          "<image>javascript:alert(1)</image></track></trackList></playlist>")
            << Format::XSPF
            << QStringList{"Alpha & Co|http://s/a?x=1&y=2|https://i/a.png", "Beta|https://s/b|"}
            << 2 << 1 << false;
        QTest::newRow("xspf cut short: the complete tracks")
            << QByteArray("<playlist><trackList><track><title>A</title><location>http://s/a"
                          "</location></track><track><title>B</title><loca")
            << Format::XSPF << QStringList{"A|http://s/a|"} << 1 << 0 << false;
        QTest::newRow("goodvibes stations.xml")
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Stations>\n"
                          "  <Station>\n    <name>Gamma</name>\n    <uri>http://s/g</uri>\n"
                          "  </Station>\n  <Station><name>Bad</name><uri>javascript:alert(1)"
                          "</uri></Station>\n  <Station><uri>https://s/h</uri></Station>\n"
                          "</Stations>\n")
            << Format::Goodvibes << QStringList{"Gamma|http://s/g|", "s|https://s/h|"} << 2 << 1
            << false;
        QTest::newRow("radiotray-ng bookmarks.json, groups kept, root none")
            << QByteArray(
                   "[{\"group\":\"root\",\"image\":\"/usr/share/a.png\",\"stations\":["
                   "{\"name\":\"Delta\",\"url\":\"http://s/d\",\"image\":\"http://i/d.png\"}]},"
                   "{\"group\":\"Jazz\",\"image\":null,\"stations\":["
                   "{\"name\":\"Epsilon\",\"url\":\"https://s/e\",\"image\":\"\"},"
                   "{\"name\":\"Local\",\"url\":\"file:///home/x.ogg\"},"
                   "{\"name\":\"Zeta\",\"url\":42},\"junk\"]},"
                   "{\"group\":\"empty\"}]")
            << Format::RadiotrayNG
            << QStringList{"Delta|http://s/d|http://i/d.png", "Epsilon|https://s/e||Jazz"} << 2 << 3
            << false;
        QTest::newRow("names: markup stays text, control and direction characters go")
            << QByteArray("#EXTM3U\n#EXTINF:-1,<b>Bold</b>\x01\x1b[31m \xE2\x80\xAE"
                          "evil\t tab\nhttp://s/a\n")
            << Format::M3U << QStringList{"<b>Bold</b>[31m evil tab|http://s/a|"} << 1 << 0
            << false;
        QTest::newRow("names: cut to 200 characters")
            << QByteArray("#EXTM3U\n#EXTINF:-1," + QByteArray(500, 'x') + "\nhttp://s/a\n")
            << Format::M3U << QStringList{QString(200, u'x') + "|http://s/a|"} << 1 << 0 << false;
        QTest::newRow("names: no space left at the cut")
            << QByteArray("#EXTM3U\n#EXTINF:-1," + QByteArray(199, 'x') + " yz\nhttp://s/a\n")
            << Format::M3U << QStringList{QString(199, u'x') + "|http://s/a|"} << 1 << 0 << false;
        QTest::newRow("names: an emoji at the cut goes whole")
            << QByteArray("#EXTM3U\n#EXTINF:-1," + QByteArray(199, 'x') +
                          "\xF0\x9F\x98\x80\nhttp://s/a\n")
            << Format::M3U << QStringList{QString(199, u'x') + "|http://s/a|"} << 1 << 0 << false;
        QTest::newRow("address longer than 2048 characters")
            << QByteArray("http://s/" + QByteArray(3000, 'a') + "\n") << Format::M3U
            << QStringList{} << 0 << 1 << false;
        QTest::newRow("100,000 entries: the first 10,000")
            << manyM3uEntries(100'000, "http://s") << Format::M3U
            << QStringList{"Station 0|http://s/0|"} << kMaxEntries << 0 << true;
        QTest::newRow("long addresses: stop before the data file would outgrow its limit")
            << manyM3uEntries(9'000, "http://s/" + QByteArray(2000, 'a')) << Format::M3U
            << QStringList{} << -1 << 0 << true;
        QTest::newRow("binary junk") << QByteArray("\x7f"
                                                   "ELF\x02\x01\x01\0\0http://s/a\n",
                                                   20)
                                     << Format::Unknown << QStringList{} << 0 << 0 << false;
        QTest::newRow("plain text")
            << QByteArray("hello\nworld\n") << Format::Unknown << QStringList{} << 0 << 0 << false;
        QTest::newRow("other XML") << QByteArray("<html><body>http://s/a</body></html>")
                                   << Format::Unknown << QStringList{} << 0 << 0 << false;
        QTest::newRow("JSON object") << QByteArray("{\"url\":\"http://s/a\"}") << Format::Unknown
                                     << QStringList{} << 0 << 0 << false;
        QTest::newRow("empty") << QByteArray() << Format::Unknown << QStringList{} << 0 << 0
                               << false;
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Format, format);
        QFETCH(QStringList, leading);
        QFETCH(int, count);
        QFETCH(int, withoutUrl);
        QFETCH(bool, truncated);

        QCOMPARE(detect(bytes), format);
        const Parsed parsed = programimport::parse(bytes);
        QCOMPARE(parsed.format, format);
        QCOMPARE(flat(parsed.entries.mid(0, leading.size())), leading);
        if (count >= 0)
            QCOMPARE(parsed.entries.size(), count);
        // Whatever is taken, the list stays within what the data file holds.
        QVERIFY(propertylist::toXml(QVariantMap{{"data", parsed.entries}}).size() <
                kMaxImportBytes);
        QCOMPARE(parsed.withoutUrl, withoutUrl);
        QCOMPARE(parsed.truncated, truncated);
        // Entries carry exactly the keys every other part of the program uses.
        for (const QVariant &e : parsed.entries)
            QCOMPARE(e.toMap().keys(),
                     (program::group(e).isEmpty() ? QStringList{"image", "name", "url"}
                                                  : QStringList{"group", "image", "name", "url"}));
    }

    void filesOutsideTheLimitsAreRefusedUnread_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<ReadError>("error");
        QTest::newRow("50 MB") << "big" << ReadError::TooLarge;
        QTest::newRow("a folder") << "folder" << ReadError::Unreadable;
        QTest::newRow("missing") << "missing" << ReadError::Unreadable;
        QTest::newRow("junk") << "junk" << ReadError::NotAPlaylist;
    }

    void filesOutsideTheLimitsAreRefusedUnread()
    {
        QFETCH(QString, what);
        QFETCH(ReadError, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(what);
        if (what == QLatin1String("big")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write("#EXTM3U\nhttp://s/a\n") > 0);
            QVERIFY(f.resize(50 * 1024 * 1024)); // sparse: no 50 MB written
        } else if (what == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (what == QLatin1String("junk")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(QByteArray("\x89PNG\r\n\x1a\n\0\0", 10)) == 10);
        }
        const FileResult result = readFile(path);
        QCOMPARE(result.error, error);
        QVERIFY(result.parsed.entries.isEmpty());
        QVERIFY(!failure(result).isEmpty());
    }

    void sameStreamAddress_data()
    {
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("incoming");
        QTest::addColumn<bool>("same");
        QTest::newRow("identical") << "http://s/a"
                                   << "http://s/a" << true;
        QTest::newRow("scheme and host case") << "http://S.Example/a"
                                              << "HTTP://s.example/a" << true;
        QTest::newRow("default port") << "http://s:80/a"
                                      << "http://s/a" << true;
        QTest::newRow("https default port") << "https://s:443/"
                                            << "https://s" << true;
        QTest::newRow("fragment") << "http://s/a#top"
                                  << "http://s/a" << true;
        QTest::newRow("white space") << " http://s/a\n"
                                     << "http://s/a" << true;
        QTest::newRow("dot segments") << "http://s/x/../a"
                                      << "http://s/a" << true;
        QTest::newRow("path case differs") << "http://s/A"
                                           << "http://s/a" << false;
        QTest::newRow("other port") << "http://s:8000/a"
                                    << "http://s/a" << false;
        QTest::newRow("other scheme") << "https://s/a"
                                      << "http://s/a" << false;
        QTest::newRow("query differs") << "http://s/a?x=1"
                                       << "http://s/a?x=2" << false;
    }

    void sameStreamAddress()
    {
        QFETCH(QString, listed);
        QFETCH(QString, incoming);
        QFETCH(bool, same);
        const QVariantList existing{program::make("Listed", "", listed), QStringLiteral("junk")};
        const QVariantMap entry = program::make("New", "", incoming);
        // Twice in the file counts once.
        const Merge merge = newEntries(existing, {entry, entry});
        QCOMPARE(merge.added, same ? QVariantList{} : QVariantList{entry});
        QCOMPARE(merge.duplicates, same ? 2 : 1);
    }

    void exportReadsBack_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<Format>("format");
        QTest::addColumn<QString>("group"); // as read back
        QTest::newRow("m3u") << "list.m3u" << Format::M3U << "Late \"Jazz\", live";
        QTest::newRow("m3u8") << "list.M3U8" << Format::M3U << "Late \"Jazz\", live";
        QTest::newRow("xspf: no groups") << "list.xspf" << Format::XSPF << QString();
    }

    void exportReadsBack()
    {
        QFETCH(QString, fileName);
        QFETCH(Format, format);
        QFETCH(QString, group);
        const QVariantList list{
            program::make("Alpha, \"quoted\" <b>&</b>", "http://i/\"a\".png?x=1&y=2", "http://s/a"),
            program::make(QStringLiteral("Caf\u00E9 \u266B"), "", "https://s/b?q=1&r=2"),
            QStringLiteral("not a program"),
            program::withGroup(program::make("Two\nlines", "https://i/c.png", "http://s/c"),
                               "Late \"Jazz\",\nlive")};
        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        QVERIFY(programexport::writeFile(path, list));
        const FileResult back = readFile(path);
        QCOMPARE(back.error, ReadError::None);
        QCOMPARE(back.parsed.format, format);
        QCOMPARE(flat(back.parsed.entries),
                 (QStringList{"Alpha, \"quoted\" <b>&</b>|http://s/a|http://i/%22a%22.png?x=1&y=2",
                              QStringLiteral("Caf\u00E9 \u266B|https://s/b?q=1&r=2|"),
                              "Two lines|http://s/c|https://i/c.png" +
                                  (group.isEmpty() ? QString() : "|" + group)}));
        // A folder that cannot be written leaves nothing behind and says so.
        QString error;
        QVERIFY(!programexport::writeFile(dir.filePath("missing/list.m3u"), list, &error));
        QVERIFY(!error.isEmpty());
    }
};

ORBITUNE_CORE_TEST_MAIN(ProgramImportTest)
#include "tst_programimport.moc"
