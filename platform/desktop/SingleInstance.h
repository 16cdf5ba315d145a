#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QLocalServer;

// One running instance per user. The first process listens on a private
// local socket; a later one connects, asks it to reopen, and exits. The
// same socket carries commands from the command line (`orbitune --status`):
// a list of arguments one way, a code and a text the other.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role { Primary, Secondary, Unavailable };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Becomes the primary instance, or, when one runs already, hands it the
    // reopen request (waiting at most `timeoutMs` for its answer). Without
    // `reopen` a running instance is only asked whether it is there.
    Role start(int timeoutMs = 2000, bool reopen = true);

    // Where the socket lives: $XDG_RUNTIME_DIR, or a per-user name in /tmp.
    static QString socketPath();
    static QByteArray reopenMessage() { return QByteArrayLiteral("orbitune:reopen\n"); }
    static QByteArray presenceMessage() { return QByteArrayLiteral("orbitune:present\n"); }
    static QByteArray commandPrefix() { return QByteArrayLiteral("orbitune:command "); }

    // What the running instance answered a command.
    struct Answer {
        int code = 0;
        QByteArray text;
    };
    // Sends the arguments to the running instance and waits at most
    // `timeoutMs` for its whole answer; none when no instance answers.
    static std::optional<Answer> sendCommand(const QStringList &args, int timeoutMs = 5000);
    // How the primary instance answers commands; `reply` may be called
    // later, and at most once. Without a handler, commands are refused.
    using Reply = std::function<void(const Answer &)>;
    using CommandHandler = std::function<void(const QStringList &args, Reply reply)>;
    void setCommandHandler(CommandHandler handler) { m_commands = std::move(handler); }

Q_SIGNALS:
    void reopenRequested();

private:
    void acceptConnections();
    void answer(class QLocalSocket *socket, const QByteArray &line);
    QLocalServer *m_server = nullptr;
    CommandHandler m_commands;
};
