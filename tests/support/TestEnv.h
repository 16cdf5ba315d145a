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
