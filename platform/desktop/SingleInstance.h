#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// One running instance per user. The first process listens on a private
// local socket; a later one connects, asks it to reopen, and exits.
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

Q_SIGNALS:
    void reopenRequested();

private:
    void acceptConnections();
    QLocalServer *m_server = nullptr;
};
