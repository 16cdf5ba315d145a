// Log formatting: the conversions our format strings use, that describing
// what a hostile file holds stays small, and which lines reach stderr.
#include "support/TestEnv.h"

#include "platform/base/Log.h"

#include <QApplication>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

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

    void categoriesDecideWhatIsWritten_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<QStringList>("written");
        const QStringList all{QStringLiteral("chatty"), QStringLiteral("done"),
                              QStringLiteral("trouble"), QStringLiteral("lost")};
        QTest::newRow("defaults: no debug") << QString() << all.mid(1);
        QTest::newRow("debug switched on") << QStringLiteral("orbitune.store.debug=true") << all;
        QTest::newRow("another layer's debug")
            << QStringLiteral("orbitune.media.debug=true") << all.mid(1);
        QTest::newRow("only errors") << QStringLiteral("orbitune.store.info=false\n"
                                                       "orbitune.store.warning=false")
                                     << all.mid(3);
    }

    void categoriesDecideWhatIsWritten()
    {
        QFETCH(QString, rules);
        QFETCH(QStringList, written);
        QLoggingCategory::setFilterRules(rules);
        QStringList heard;
        orbitune::log::setSink([&heard](const QString &line) { heard << line; });
        QTemporaryFile capture;
        QVERIFY(capture.open());
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        dup2(capture.handle(), STDERR_FILENO);
        NSLog(lcStore(), QtDebugMsg, "%@", QStringLiteral("chatty"));
        NSLog(lcStore(), QtInfoMsg, "%@", QStringLiteral("done"));
        NSLog(lcStore(), QtWarningMsg, "%@", QStringLiteral("trouble"));
        NSLog(lcStore(), QtCriticalMsg, "%@", QStringLiteral("lost"));
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        orbitune::log::setSink({});
        QLoggingCategory::setFilterRules(QString());
        QStringList out;
        capture.seek(0);
        for (const QByteArray &line : capture.readAll().split('\n')) {
            if (!line.isEmpty())
                out << QString::fromUtf8(line).section(QLatin1Char(' '), -1);
        }
        QCOMPARE(out, written);
        // Tests hear every line, whatever the rules.
        QCOMPARE(heard.size(), 4);
    }
};

ORBITUNE_TEST_MAIN(LogTest)
#include "tst_log.moc"
