#pragma once

#include "scrobble/ScrobbleSender.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class ScrobbleAccounts;
class Scrobbler;

// "Scrobbling": connect and disconnect ListenBrainz (a token, at the
// address of the listener's choice) and Last.fm (approved in the browser),
// the account names once checked, the programs never scrobbled (talk and
// news stations), whether loved songs are sent, and the state of each queue
// ("3 listens waiting: offline"). Says when the keyring cannot be reached,
// and when this build has no Last.fm. Finds the services; they know
// nothing of it.
class ScrobbleDialog : public QDialog {
    Q_OBJECT
public:
    ScrobbleDialog(Scrobbler *scrobbler, ScrobbleAccounts *accounts, QWidget *parent = nullptr);

    // What a service's queue shows.
    static QString queueText(int waiting, ScrobbleSender::Status status);

private:
    void refresh();
    void connectListenBrainz();
    void beginLastFm();
    void finishLastFm();
    void followSenders();

    Scrobbler *m_scrobbler;
    ScrobbleAccounts *m_accounts;
    QLabel *m_keyring;
    QLabel *m_lbAccount;
    QLineEdit *m_lbAddress;
    QLineEdit *m_lbToken;
    QPushButton *m_lbConnect;
    QPushButton *m_lbDisconnect;
    QLabel *m_lbQueue;
    QLabel *m_lastFmAccount;
    QPushButton *m_lastFmConnect;
    QPushButton *m_lastFmFinish;
    QPushButton *m_lastFmDisconnect;
    QLabel *m_lastFmQueue;
    QListWidget *m_excluded;
    QCheckBox *m_loves;
    QString m_lbMessage;
    QString m_lastFmMessage;
};
