#include "platform/desktop/SingleInstance.h"

#include "platform/base/Log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include <unistd.h>

namespace {
constexpr int kMaxMessage = 64;
// A command's arguments, as a JSON array on one line.
constexpr int kMaxCommand = 16 * 1024;
// An answer: the list of 10,000 programs fits many times.
constexpr qint64 kMaxAnswer = 32 * 1024 * 1024;
} // namespace

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
            if (socket->property("answering").toBool())
                return; // one request per connection
            const qint64 waiting = socket->bytesAvailable();
            const bool command = socket->peek(commandPrefix().size()) == commandPrefix();
            if (waiting > (command ? kMaxCommand : kMaxMessage)) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            answer(socket, socket->readLine(kMaxCommand + 1));
        });
    }
}

void SingleInstance::answer(QLocalSocket *socket, const QByteArray &line)
{
    socket->setProperty("answering", true);
    if (line == reopenMessage() || line == presenceMessage()) {
        socket->write("ok\n");
        socket->flush();
        if (line == reopenMessage())
            Q_EMIT reopenRequested();
        socket->disconnectFromServer();
        return;
    }
    if (!line.startsWith(commandPrefix()) || !m_commands) {
        socket->disconnectFromServer();
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(line.mid(commandPrefix().size()));
    QStringList args;
    for (const QJsonValue &arg : doc.array()) {
        if (!arg.isString()) {
            socket->disconnectFromServer();
            return;
        }
        args << arg.toString();
    }
    QPointer<QLocalSocket> to(socket);
    m_commands(args, [to](const Answer &answer) {
        if (!to)
            return; // the command line gave up waiting
        to->write(QByteArray::number(answer.code) + '\n' + answer.text.left(kMaxAnswer));
        to->disconnectFromServer();
    });
}

std::optional<SingleInstance::Answer> SingleInstance::sendCommand(const QStringList &args,
                                                                  int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return std::nullopt;
    socket.write(commandPrefix() +
                 QJsonDocument(QJsonArray::fromStringList(args)).toJson(QJsonDocument::Compact) +
                 '\n');
    socket.flush();
    QDeadlineTimer deadline(timeoutMs);
    QByteArray got;
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired() &&
           got.size() <= kMaxAnswer) {
        if (socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            got += socket.readAll();
    }
    got += socket.readAll();
    const qsizetype newline = got.indexOf('\n');
    bool ok = false;
    const int code = newline > 0 ? got.left(newline).toInt(&ok) : 0;
    if (!ok)
        return std::nullopt;
    return Answer{code, got.mid(newline + 1)};
}

#include "moc_SingleInstance.cpp"
