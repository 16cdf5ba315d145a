#pragma once

#include <QString>
#include <QTemporaryDir>

// Gives a test process private XDG data, cache and runtime directories, so
// it never touches the user's own files. Create one before QApplication
// (QTEST_MAIN does that through ORBITUNE_TEST_MAIN below).
class TestEnv {
public:
    TestEnv();
    QString dataDir() const;  // what QStandardPaths::AppDataLocation resolves to
    QString dataFile() const; // dataDir() + "/data.plist"
    QString root() const { return m_root.path(); }
    static TestEnv *instance();

private:
    QTemporaryDir m_root;
};

// For a test program split into parts (orbitune_qtest PARTS): skips the
// current function when another part runs it. Use at the top of init().
#define ORBITUNE_SKIP_IF_RUN_ELSEWHERE()                                                           \
    do {                                                                                           \
        if (qEnvironmentVariable("ORBITUNE_SKIP_FUNCTIONS")                                        \
                .split(QLatin1Char(','))                                                           \
                .contains(QLatin1String(QTest::currentTestFunction())))                            \
            QSKIP("run by another part of this test");                                             \
    } while (false)

// Reads a fixture from tests/fixtures.
QByteArray readFixture(const QString &name);
QString fixturePath(const QString &name);

#define ORBITUNE_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnv env;                                                                               \
        QApplication app(argc, argv);                                                              \
        QApplication::setApplicationName(QStringLiteral("orbitune"));                              \
        QApplication::setQuitOnLastWindowClosed(false);                                            \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

// The same for a test of what has no widgets, on a QCoreApplication.
#define ORBITUNE_CORE_TEST_MAIN(TestObject)                                                        \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnv env;                                                                               \
        QCoreApplication app(argc, argv);                                                          \
        QCoreApplication::setApplicationName(QStringLiteral("orbitune"));                          \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
