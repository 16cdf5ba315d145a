// The property-list layer under the store: what it accepts, what it refuses
// before the parser can be led astray, and that every value type comes back
// out as it went in.

#include "StoreTestUtil.h"
#include "support/TestEnv.h"

#include "platform/plist/PropertyList.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <limits>

using namespace storetest;

namespace {

QByteArray plist(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
           "</plist>\n";
}

QByteArray nested(int levels)
{
    return QByteArray("<array>").repeated(levels) + QByteArray("</array>").repeated(levels);
}

// A binary property list of `levels` arrays, each holding the next
// `fanout` times over, written with one-byte references; the innermost is an
// empty array, or `leaf` as an ASCII string.
QByteArray binaryNested(int levels, int fanout = 1, const QByteArray &leaf = {})
{
    QByteArray out("bplist00");
    QList<quint32> offsets;
    for (int i = 0; i < levels; ++i) {
        offsets << quint32(out.size());
        if (i + 1 < levels) {
            QByteArray count(4, '\0'); // after the marker when over 14
            qToBigEndian(quint32(fanout), count.data());
            out += fanout < 15 ? QByteArray(1, char(0xA0 | fanout)) : "\xAF\x12" + count;
            out += QByteArray(fanout, char(i + 1));
        } else if (leaf.isEmpty()) {
            out += char(0xA0);
        } else {
            out += char(0x5F); // the length follows as a 4-byte integer
            out += char(0x12);
            QByteArray length(4, '\0');
            qToBigEndian(quint32(leaf.size()), length.data());
            out += length + leaf;
        }
    }
    const quint64 table = quint64(out.size());
    for (quint32 off : offsets) {
        out += QByteArray(4, '\0');
        qToBigEndian(off, out.data() + out.size() - 4);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = 1;
    qToBigEndian(quint64(levels), trailer.data() + 8);
    qToBigEndian(quint64(0), trailer.data() + 16);
    qToBigEndian(table, trailer.data() + 24);
    return out + trailer;
}

} // namespace

class TestDataFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyTypeRoundTrips()
    {
        QByteArray bytes("\0\x01\xff\x80 binary", 12);
        const QVariantMap value{
            {QStringLiteral("string"), QStringLiteral("Grüße ♫ <&> \"q\" 'a' 😀")},
            {QStringLiteral("empty string"), QString()},
            {QStringLiteral("zero"), qint64(0)},
            {QStringLiteral("negative"), qint64(-42)},
            {QStringLiteral("min"), std::numeric_limits<qint64>::min()},
            {QStringLiteral("max"), std::numeric_limits<qint64>::max()},
            {QStringLiteral("unsigned max"), std::numeric_limits<quint64>::max()},
            {QStringLiteral("unsigned above signed"), quint64(1) << 63},
            {QStringLiteral("uid"), QVariant::fromValue(propertylist::Uid{42})},
            {QStringLiteral("real"), 3.141592653589793},
            {QStringLiteral("tiny real"), -2.5e-300},
            {QStringLiteral("whole real"), 2.0},
            {QStringLiteral("true"), true},
            {QStringLiteral("false"), false},
            {QStringLiteral("date"), QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC)},
            {QStringLiteral("old date"), QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)},
            {QStringLiteral("data"), bytes},
            {QStringLiteral("empty data"), QByteArray()},
            {QStringLiteral("nested"),
             QVariantList{QVariantMap{}, QVariantList{}, QVariantList{QVariantList{qint64(1)}}}},
        };
        QString error;
        const QVariant back = propertylist::parse(propertylist::toXml(value), &error);
        QVERIFY2(back.isValid(), qPrintable(error));
        const QVariantMap map = back.toMap();
        QCOMPARE(map.keys(), value.keys());
        for (auto it = value.cbegin(); it != value.cend(); ++it) {
            const QVariant got = map.value(it.key());
            QVERIFY2(
                got.metaType() == it.value().metaType() ||
                    (it.value().metaType().id() == QMetaType::QString && got.toString().isEmpty()),
                qPrintable(it.key()));
            QVERIFY2(got == it.value(), qPrintable(it.key()));
        }
    }

    void writtenFileIsReadByPlistlib()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.plist"));
        const QVariantMap value{
            {QStringLiteral("data"),
             QVariantList{QVariantMap{
                 {QStringLiteral("name"), QStringLiteral("Ä & <b>")},
                 {QStringLiteral("n"), qint64(-7)},
                 {QStringLiteral("r"), 0.5},
                 {QStringLiteral("d"), QByteArray("\0\1", 2)},
                 {QStringLiteral("t"), QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC)}}}}};
        QVERIFY(propertylist::writeFile(path, value));
        QString out;
        const int rc = runPython(QStringLiteral(R"(
import datetime, plistlib, sys
v = plistlib.load(open(sys.argv[1], 'rb'))
e = v['data'][0]
assert e == {'name': 'Ä & <b>', 'n': -7, 'r': 0.5, 'd': b'\0\1',
             't': datetime.datetime(2020, 1, 2, 3, 4, 5)}, e
)"),
                                 {path}, &out);
        QVERIFY2(rc == 0, qPrintable(out));
    }

    void nestingLimitIsExact()
    {
        // The top level counts as one level.
        QVERIFY(propertylist::parse(plist(nested(propertylist::kMaxDepth))).isValid());
        QString error;
        QVERIFY(!propertylist::parse(plist(nested(propertylist::kMaxDepth + 1)), &error).isValid());
        QVERIFY(error.contains(QStringLiteral("nesting")));

        QVERIFY(propertylist::parse(binaryNested(propertylist::kMaxDepth)).isValid());
        QVERIFY(!propertylist::parse(binaryNested(propertylist::kMaxDepth + 1)).isValid());
    }

    // Each of these hides end tags from the depth count in a place the
    // parser skips, and then nests far deeper than the limit. Counted
    // wrongly, the parser's tree would be freed by deep recursion and the
    // process would die here.
    void valueTooLargeToReadBackIsNotWritten()
    {
        // 4,096 copies of one 4,096-character string once expanded: within
        // the reader's limits, but more than kMaxFileSize bytes as XML.
        const QVariant bomb = propertylist::parse(binaryNested(7, 4, QByteArray(4096, 'x')));
        QVERIFY(bomb.isValid());
        QVERIFY(propertylist::toXml(bomb).size() > propertylist::kMaxFileSize);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.plist"));
        const QVariantMap before{{QStringLiteral("data"), QVariantList{}}};
        QVERIFY(propertylist::writeFile(path, before));
        QString error;
        QVERIFY(!propertylist::writeFile(
            path, QVariantMap{{QStringLiteral("data"), QVariantList{bomb}}}, &error));
        QVERIFY(error.contains(QStringLiteral("more than")));
        QCOMPARE(propertylist::readFile(path).value, QVariant(before));
    }

    void deepNestingCannotHideBehindSkippedText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const int n = 200000;
        const QByteArray closes = QByteArray("</array>").repeated(n);
        const QByteArray deep = QByteArray("<array>").repeated(n + 10);
        QTest::newRow("comment") << plist("<!--" + closes + "-->" + deep);
        QTest::newRow("processing instruction") << plist("<?pi \"?>\" " + closes + "?>" + deep);
        QTest::newRow("doctype subset") << plist("<!DOCTYPE plist [" + closes + "]>" + deep);
        QTest::newRow("cdata") << plist("<array><string><![CDATA[" + closes + "]]></string>" +
                                        deep);
        QTest::newRow("quoted attribute") << plist("<array a=\">" + closes + "\">" + deep);
        QTest::newRow("stray end tags first") << plist(closes + deep);
        QTest::newRow("unterminated") << plist(deep);
        QByteArray attrs;
        for (int i = 0; i < 1000; ++i)
            attrs += "<array x=\"></array></array>\">";
        QTest::newRow("many quoted attributes") << plist(attrs.repeated(5) + nested(250));
    }

    void deepNestingCannotHideBehindSkippedText()
    {
        QFETCH(QByteArray, bytes);
        QString error;
        QVERIFY(!propertylist::parse(bytes, &error).isValid());
        QVERIFY(!error.isEmpty());
    }

    void ordinaryCommentsAndCdataStillParse()
    {
        const QByteArray text =
            plist("<!-- hand edited </array> -->\n<dict><key>data</key><array><dict>"
                  "<key>name</key><string><![CDATA[a </dict> b]]> &amp; c</string>"
                  "<!-- another --></dict><array/></array></dict>");
        QString error;
        const QVariant v = propertylist::parse(text, &error);
        QVERIFY2(v.isValid(), qPrintable(error));
        const QVariantList data = v.toMap().value(QStringLiteral("data")).toList();
        QCOMPARE(data.size(), 2);
        QCOMPARE(data.first().toMap().value(QStringLiteral("name")).toString(),
                 QStringLiteral("a </dict> b & c"));
    }

    void hostileInputsAreRefusedQuickly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        for (const char *f : {"entities.plist", "binary-shared-refs.plist", "binary-cycle.plist",
                              "binary-bad-trailer.plist", "invalid-utf8.plist"})
            QTest::newRow(f) << readFixture(QStringLiteral("store/") + QLatin1String(f));
        QTest::newRow("invalid utf-8 in a key")
            << plist("<dict><key>na\xc3\x28me</key><string>x</string></dict>");
        QTest::newRow("utf-16 surrogate in utf-8")
            << plist("<dict><key>name</key><string>\xed\xa0\x80</string></dict>");
        QTest::newRow("overlong encoding")
            << plist("<dict><key>name</key><string>\xc0\xaf</string></dict>");
        QTest::newRow("undeclared entity")
            << plist("<dict><key>name</key><string>&xxe;</string></dict>");
        QTest::newRow("truncated binary")
            << readFixture(QStringLiteral("store/user-binary.plist")).left(300);
        QByteArray binaryBadString = readFixture(QStringLiteral("store/user-binary.plist"));
        const qsizetype at = binaryBadString.indexOf("Morning News");
        binaryBadString[at + 1] = char(0xff);
        QTest::newRow("binary string not utf-8") << binaryBadString;
        const QByteArray nulXml =
            plist("<dict><key>name</key><string>a" + QByteArray(1, '\0') + "b</string></dict>");
        QTest::newRow("NUL byte in an XML string") << nulXml;
        QTest::newRow("larger than the limit") << QByteArray(propertylist::kMaxFileSize + 1, ' ');
        // Shared references: small files standing for huge trees.
        QTest::newRow("28 levels of 14 shared arrays, a long string at the bottom")
            << binaryNested(29, 14, QByteArray(10000, 'x'));
        QTest::newRow("shared arrays expanding to 579,195 nodes") << binaryNested(6, 14);
        QTest::newRow("199,999 copies of a string that is not UTF-8")
            << binaryNested(2, 199'999, "\xFF");
        QTest::newRow("a shared string expanding to 20 MB")
            << binaryNested(7, 4, QByteArray(5000, 'x'));
    }

    void hostileInputsAreRefusedQuickly()
    {
        QFETCH(QByteArray, bytes);
        QElapsedTimer t;
        t.start();
        QString error;
        QVERIFY(!propertylist::parse(bytes, &error).isValid());
        QVERIFY(!error.isEmpty());
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
    }

    void nulInABinaryStringMakesTheFileUnreadable_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray ascii = readFixture(QStringLiteral("store/user-binary.plist"));
        ascii[ascii.indexOf("Morning News") + 7] = '\0';
        QTest::newRow("ascii") << ascii;
        // {"name": "café\0x"}, stored as UTF-16.
        QTest::newRow("utf-16") << QByteArray::fromHex(
            "62706c6973743030d10102546e616d656600630061006600e900000078080b1000000000000001010000"
            "0000000000030000000000000000000000000000001d");
    }

    void nulInABinaryStringMakesTheFileUnreadable()
    {
        // The library cuts binary strings at a NUL byte and XML cannot hold
        // one: rewriting would shorten the string, so the file is refused
        // like any other it cannot carry over whole (and kept aside by the
        // store before any change).
        QFETCH(QByteArray, bytes);
        QString error;
        QVERIFY(!propertylist::parse(bytes, &error).isValid());
        QVERIFY2(error.contains(QLatin1String("NUL")), qPrintable(error));
    }

    void validUtf8IsKept()
    {
        const QByteArray text = plist("<dict><key>k\xc3\xa9y</key><string>\xf0\x9f\x98\x80 "
                                      "\xe2\x99\xab \xc3\xbc</string></dict>");
        const QVariant v = propertylist::parse(text);
        QVERIFY(v.isValid());
        QCOMPARE(v.toMap().value(QStringLiteral("kéy")).toString(), QStringLiteral("😀 ♫ ü"));
    }

    void readFileStates()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f.plist"));
        QCOMPARE(propertylist::readFile(path).state, propertylist::FileState::Missing);
        QVERIFY(writeAll(path, QByteArray()));
        QCOMPARE(propertylist::readFile(path).state, propertylist::FileState::Empty);
        QVERIFY(writeAll(path, "junk"));
        QCOMPARE(propertylist::readFile(path).state, propertylist::FileState::Unreadable);
        QVERIFY(writeAll(path, plist("<true/>")));
        const propertylist::ReadResult r = propertylist::readFile(path);
        QCOMPARE(r.state, propertylist::FileState::Value);
        QCOMPARE(r.value, QVariant(true));
        // A directory where the file should be is unreadable, not empty.
        QDir().mkpath(dir.filePath(QStringLiteral("d.plist")));
        QCOMPARE(propertylist::readFile(dir.filePath(QStringLiteral("d.plist"))).state,
                 propertylist::FileState::Unreadable);
    }
};

ORBITUNE_TEST_MAIN(TestDataFile)
#include "tst_datafile.moc"
