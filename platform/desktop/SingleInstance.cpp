#include "platform/desktop/SingleInstance.h"

#include "platform/base/Log.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <unistd.h>

namespace {
constexpr int kMaxMessage = 64;
}

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::socketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/orbitune.sock");
    return QDir::tempPath() + QStringLiteral("/orbitune-%1.sock").arg(getuid());
}

SingleInstance::Role SingleInstance::start(int timeoutMs, bool reopen)
{
    const QString path = socketPath();
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(timeoutMs)) {
            probe.write(reopen ? reopenMessage() : presenceMessage());
            probe.flush();
            // Wait for the primary to read the request before leaving.
            if (probe.waitForReadyRead(timeoutMs) && probe.readAll().startsWith("ok"))
                return Role::Secondary;
            NSLog(lcDesktop(), QtWarningMsg, "running instance did not answer; starting anyway");
        }
    }
    // Nobody answers there: whatever is at the path is left over.
    QLocalServer::removeServer(path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path)) {
        NSLog(lcDesktop(), QtWarningMsg, "single-instance socket unavailable: %@",
              m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return Role::Unavailable;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return Role::Primary;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that says nothing useful is dropped after a short while.
        QTimer::singleShot(3000, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() > kMaxMessage) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine(kMaxMessage + 1);
            if (line == reopenMessage() || line == presenceMessage()) {
                socket->write("ok\n");
                socket->flush();
                if (line == reopenMessage())
                    Q_EMIT reopenRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

#include "moc_SingleInstance.cpp"
