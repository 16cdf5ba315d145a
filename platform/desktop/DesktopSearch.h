#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// The desktop's search over D-Bus: GNOME Shell's search provider
// (org.gnome.Shell.SearchProvider2) and KRunner's runner (org.kde.krunner1),
// both under one bus name that the desktop can also start the application
// by. It knows nothing of what is searched: the application answers through
// the handlers.
class DesktopSearch : public QObject {
    Q_OBJECT
public:
    static constexpr const char *ServiceName = "org.orbitune.Orbitune";
    static constexpr const char *ShellPath = "/org/orbitune/SearchProvider";
    static constexpr const char *RunnerPath = "/org/orbitune/krunner";

    struct Result {
        QString id;
        QString name;
        QString description;
        QString pictureFile; // a local image file, or empty for the application's icon
    };
    struct Handlers {
        // What matches every term, best first.
        std::function<QList<Result>(const QStringList &terms)> search;
        // The results with these ids (unknown ones left out).
        std::function<QList<Result>(const QStringList &ids)> describe;
        // The listener chose this result.
        std::function<void(const QString &id)> activate;
        // The listener asked to see the search in the application itself.
        std::function<void(const QStringList &terms)> launch;
    };

    DesktopSearch(Handlers handlers, QObject *parent = nullptr);
    DesktopSearch(const QDBusConnection &bus, Handlers handlers, QObject *parent = nullptr);
    ~DesktopSearch() override;

    // Exports both objects and claims ServiceName; false (said once in the
    // log) without a bus or when another process holds the name.
    bool start();
    void stop();
    bool isRegistered() const { return m_registered; }

    const Handlers &handlers() const { return m_handlers; }
    // For the runner: how many results one query gives at most.
    static constexpr int kMaxResults = 20;
    // A search of more terms, or of more characters in all, finds nothing:
    // what anyone types is far shorter, and each term is compared with
    // every name.
    static constexpr int kMaxTerms = 16;
    static constexpr int kMaxQueryLength = 512;

private:
    QDBusConnection m_bus;
    Handlers m_handlers;
    QObject *m_shell;
    QObject *m_runner;
    bool m_registered = false;
};
