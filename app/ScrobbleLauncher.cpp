#include "app/ScrobbleLauncher.h"

#include "platform/ui/WindowHost.h"
#include "scrobble/LastFmClient.h"
#include "scrobble/ScrobbleAccounts.h"
#include "scrobble/ScrobbleSender.h"
#include "scrobble/Scrobbler.h"
#include "scrobblewindow/ScrobbleDialog.h"

#include <QAction>

ScrobbleLauncher::ScrobbleLauncher(PlaybackSession *session, HistoryRecorder *recorder,
                                   HistoryStore *store, QObject *parent)
    : QObject(parent), m_scrobbler(new Scrobbler(session, recorder, store, this)),
      m_accounts(new ScrobbleAccounts(m_scrobbler, this))
{
    connect(m_scrobbler, &Scrobbler::servicesChanged, this, &ScrobbleLauncher::followSenders);
    m_scrobbler->setSendsLoves(m_accounts->sendsLoves());
    connect(m_accounts, &ScrobbleAccounts::sendsLovesChanged, m_scrobbler,
            &Scrobbler::setSendsLoves);
    m_accounts->restore();
}

ScrobbleLauncher::~ScrobbleLauncher()
{
    delete m_dialog;
}

ScrobbleDialog *ScrobbleLauncher::dialog() const
{
    return m_dialog;
}

void ScrobbleLauncher::followSenders()
{
    for (const char *service : {"listenbrainz", "lastfm"}) {
        ScrobbleSender *sender = m_scrobbler->sender(QString::fromLatin1(service));
        if (!sender)
            continue;
        const QString name = qstrcmp(service, LastFmClient::kService) == 0
                                 ? QStringLiteral("Last.fm")
                                 : QStringLiteral("ListenBrainz");
        connect(
            sender, &ScrobbleSender::refused, this,
            [this, name] {
                Q_EMIT notice(QStringLiteral("%1 refused the account. Listens wait until it is "
                                             "connected again in Scrobbling.")
                                  .arg(name));
            },
            Qt::UniqueConnection);
    }
}

void ScrobbleLauncher::attachHome(WindowHost *home)
{
    m_home = home;
    QAction *action = home->addTrayAction(TrayMenu::Section::Stations,
                                          QStringLiteral("Scrobbling…"), "scrobblingAction");
    connect(action, &QAction::triggered, this,
            [this] { open(m_home ? m_home->shownWindow() : nullptr); });
}

void ScrobbleLauncher::open(QWidget *near)
{
    if (!m_dialog) {
        m_dialog = new ScrobbleDialog(m_scrobbler, m_accounts);
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (near)
        m_dialog->move(near->geometry().center() - m_dialog->rect().center());
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

#include "moc_ScrobbleLauncher.cpp"
