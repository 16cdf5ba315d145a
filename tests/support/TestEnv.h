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

// main() of a test on `AppClass`, after `setUp` (code run once the
// application exists).
#define ORBITUNE_TEST_MAIN_ON(AppClass, TestObject, setUp)                                         \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TestEnv env;                                                                               \
        AppClass app(argc, argv);                                                                  \
        AppClass::setApplicationName(QStringLiteral("orbitune"));                                  \
        setUp;                                                                                     \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define ORBITUNE_TEST_MAIN(TestObject)                                                             \
    ORBITUNE_TEST_MAIN_ON(QApplication, TestObject, QApplication::setQuitOnLastWindowClosed(false))

// The same for a test of what has no widgets, on a QCoreApplication.
#define ORBITUNE_CORE_TEST_MAIN(TestObject) ORBITUNE_TEST_MAIN_ON(QCoreApplication, TestObject, )
