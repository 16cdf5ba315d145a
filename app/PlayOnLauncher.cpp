#include "app/PlayOnLauncher.h"

#include "integrations/PlayOn.h"
#include "platform/cast/CastFinder.h"
#include "platform/ui/WindowHost.h"
#include "platform/upnp/RendererFinder.h"

#include <QAbstractEventDispatcher>
#include <QActionGroup>
#include <QMenu>
#include <QToolButton>

PlayOnLauncher::PlayOnLauncher(PlaybackSession *session, QObject *parent) : QObject(parent)
{
    // GUPnP's sources run on the GLib main loop, which is Qt's only with
    // its GLib event dispatcher (not with QT_NO_GLIB set).
    if (!QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib"))
        qWarning("Play On: the event loop is not GLib's; no speakers will be found");
    const QStringList places =
        qEnvironmentVariable("ORBITUNE_UPNP_PLACES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    m_finder = new RendererFinder(places, this);
    m_castFinder = new CastFinder(this);
    m_playOn = new PlayOn(session, m_finder, m_castFinder, this);
    connect(m_playOn, &PlayOn::placesChanged, this, &PlayOnLauncher::refresh);
    connect(m_playOn, &PlayOn::currentChanged, this, &PlayOnLauncher::refresh);
}

PlayOnLauncher::~PlayOnLauncher() = default;

void PlayOnLauncher::attachHome(WindowHost *home)
{
    m_home = home;
    m_trayMenu =
        home->addTrayMenu(TrayMenu::Section::Playback, QStringLiteral("Play On"), "playOnMenu");
    if (QToolButton *button = home->playOnButton()) {
        m_buttonMenu = new QMenu(button);
        m_buttonMenu->setObjectName(QStringLiteral("playOnButtonMenu"));
        // Opened on the button's click, not as its own menu: a button's
        // instant menu opens on a mouse press only, never on Space or a
        // screen reader's Press.
        connect(button, &QToolButton::clicked, m_buttonMenu, [button, menu = m_buttonMenu] {
            menu->popup(button->mapToGlobal(QPoint(0, button->height())));
        });
    }
    refresh();
}

void PlayOnLauncher::refresh()
{
    fill(m_trayMenu);
    fill(m_buttonMenu);
    if (!m_home || !m_home->playOnButton())
        return;
    QString where = PlayOn::thisComputer();
    for (const PlayOn::Place &place : m_playOn->places()) {
        if (place.id == m_playOn->current())
            where = place.name;
    }
    QToolButton *button = m_home->playOnButton();
    button->setToolTip(QStringLiteral("Play On: %1").arg(where));
    button->setAccessibleDescription(
        QStringLiteral("Plays on %1; chooses where the sound plays").arg(where));
}

void PlayOnLauncher::fill(QMenu *menu)
{
    if (!menu)
        return;
    menu->clear();
    auto *group = new QActionGroup(menu);
    for (const PlayOn::Place &place : m_playOn->places()) {
        QAction *action = menu->addAction(place.name);
        action->setObjectName(place.id.isEmpty() ? QStringLiteral("playOnThisComputer")
                                                 : QStringLiteral("playOn:") + place.id);
        action->setCheckable(true);
        action->setChecked(place.id == m_playOn->current());
        action->setActionGroup(group);
        const QString id = place.id;
        connect(action, &QAction::triggered, this, [this, id] { m_playOn->choose(id); });
    }
}

#include "moc_PlayOnLauncher.cpp"
