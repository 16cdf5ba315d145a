#pragma once

// A Radio Browser stand-in on 127.0.0.1 (fake_directory.py): tests set how
// it answers and read which requests and clicks reached it.

#include "support/ChildProcess.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

class FakeDirectory {
public:
    // Station streams point at `stream` (e.g. the test Icecast's mount).
    explicit FakeDirectory(const QUrl &stream = QUrl(QStringLiteral("http://127.0.0.1:9/none.mp3")))
    {
        const QString script = QString::fromLocal8Bit(qgetenv("ORBITUNE_SOURCE_DIR")) +
                               QStringLiteral("/tests/find/fake_directory.py");
        m_process = childprocess::start(QStringLiteral("python3"),
                                        {script, QStringLiteral("--dir"), m_dir.path(),
                                         QStringLiteral("--stream"), stream.toString()},
                                        QProcessEnvironment::systemEnvironment(),
                                        m_dir.filePath(QStringLiteral("stderr.log")));
        if (m_process)
            m_port = childprocess::waitForLine(m_process.get(), "READY", 20000).toUShort();
    }
    ~FakeDirectory()
    {
        if (m_process)
            childprocess::stop(m_process.get());
    }
    FakeDirectory(const FakeDirectory &) = delete;
    FakeDirectory &operator=(const FakeDirectory &) = delete;

    bool isUp() const { return m_port != 0; }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    // normal, slow, 500, notjson, object, wrongtypes, huge, hugeclose, endless,
    // understated, trickle (see the script).
    void setMode(const QString &mode)
    {
        QFile f(m_dir.filePath(QStringLiteral("mode")));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(mode.toUtf8());
    }

    // Each request: {"path", "query": {...}, "ua"}.
    QList<QJsonObject> requests() const
    {
        QList<QJsonObject> out;
        for (const QByteArray &line : lines(QStringLiteral("requests.log")))
            out << QJsonDocument::fromJson(line).object();
        return out;
    }
    QList<QJsonObject> searches() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &r : requests()) {
            if (r.value(QStringLiteral("path")).toString() ==
                QStringLiteral("/json/stations/search"))
                out << r;
        }
        return out;
    }
    QStringList clicks() const
    {
        QStringList out;
        for (const QByteArray &line : lines(QStringLiteral("clicks.log")))
            out << QString::fromUtf8(line);
        return out;
    }

private:
    QList<QByteArray> lines(const QString &name) const
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (!line.isEmpty())
                out << line;
        }
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
};
