#pragma once

#include <QObject>
#include <QPointer>

class HistoryRecorder;
class HistoryStore;
class PlaybackSession;
class ScrobbleAccounts;
class ScrobbleDialog;
class Scrobbler;
class WindowHost;

// Scrobbling's ways in: "Scrobbling…" in the tray and the main window's
// menu opens the dialog (made when opened, let go once closed); the
// accounts connected before are connected again at start; a service that
// refuses its account is told once as a notice.
class ScrobbleLauncher : public QObject {
    Q_OBJECT
public:
    ScrobbleLauncher(PlaybackSession *session, HistoryRecorder *recorder, HistoryStore *store,
                     QObject *parent = nullptr);
    ~ScrobbleLauncher() override;

    void attachHome(WindowHost *home);
    void open(QWidget *near = nullptr);
    Scrobbler *scrobbler() const { return m_scrobbler; }
    ScrobbleAccounts *accounts() const { return m_accounts; }
    // Null while the dialog is closed.
    ScrobbleDialog *dialog() const;

Q_SIGNALS:
    // Something the listener should hear of (a refused account).
    void notice(const QString &text);

private:
    void followSenders();

    Scrobbler *m_scrobbler;
    ScrobbleAccounts *m_accounts;
    QPointer<ScrobbleDialog> m_dialog;
    QPointer<WindowHost> m_home;
};
