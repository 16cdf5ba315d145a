// Log formatting: the conversions our format strings use, and that
// describing what a hostile file holds stays small.
#include "support/TestEnv.h"

#include "platform/base/Log.h"

#include <QApplication>
#include <QtTest>

class LogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void conversions()
    {
        using orbitune::log::format;
        QCOMPARE(format("filePath:%@", {QStringLiteral("/a b/data.plist")}),
                 QStringLiteral("filePath:/a b/data.plist"));
        QCOMPARE(format("tableColumn：%ld", {qint64(-1)}), QStringLiteral("tableColumn：-1"));
        QCOMPARE(format("鼠标进入cell范围:%ld", {7}), QStringLiteral("鼠标进入cell范围:7"));
        QCOMPARE(format("100%% %@", {}), QStringLiteral("100% (null)"));
        const QVariantMap entry{{QStringLiteral("name"), QStringLiteral("A \"B\"")},
                                {QStringLiteral("url"), QStringLiteral("http://x/")}};
        QCOMPARE(format("dataDic:%@", {QVariantMap{{QStringLiteral("live"), entry}}}),
                 QStringLiteral("dataDic:{\n    live = {\n        name = \"A \\\"B\\\"\";\n"
                                "        url = \"http://x/\";\n    };\n}"));
    }

    void deepAndHugeValuesAreElided()
    {
        QVariant deep = QStringLiteral("bottom");
        for (int i = 0; i < 250; ++i)
            deep = QVariantList{deep, deep};
        QElapsedTimer clock;
        clock.start();
        const QString text = orbitune::log::describe(deep);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(text.size() <= 64 * 1024 + 3);
        QVERIFY(text.contains(QStringLiteral("...")));
        QVERIFY(!text.contains(QStringLiteral("bottom")));

        const QString huge(1 << 20, QLatin1Char('x'));
        QVERIFY(orbitune::log::describe(QVariantList{huge}).size() <= 64 * 1024 + 3 + 16);
    }
};

ORBITUNE_TEST_MAIN(LogTest)
#include "tst_log.moc"
