#include "player/NowPlayingNotices.h"

#include "platform/base/Settings.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/desktop/SleepInhibitor.h"
#include "platform/ui/PreviewView.h"
#include "player/HomeViewController.h"
#include "store/ProgramEntry.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

namespace {
const QString kEnabledKey = QStringLiteral("notifications/enabled");
} // namespace

NowPlayingNotices::NowPlayingNotices(HomeViewController *home, DesktopNotifier *notifier,
                                     SleepInhibitor *inhibitor, QObject *parent)
    : QObject(parent), m_home(home), m_notifier(notifier), m_inhibitor(inhibitor)
{
    if (QMenu *menu = home->statusMenu()) {
        m_toggle = new QAction(QStringLiteral("Notifications"), menu);
        m_toggle->setObjectName(QStringLiteral("notificationsAction"));
        m_toggle->setCheckable(true);
        m_toggle->setChecked(isEnabled());
        // Before the separator and Quit.
        const QList<QAction *> actions = menu->actions();
        menu->insertAction(actions.value(actions.size() - 2), m_toggle);
        connect(m_toggle, &QAction::toggled, this, &NowPlayingNotices::setEnabled);
    }
    connect(home, &HomeViewController::playbackStateChanged, this,
            &NowPlayingNotices::playbackChanged);
    connect(home, &HomeViewController::nowPlayingChanged, this, &NowPlayingNotices::titleChanged);
    playbackChanged();
}

bool NowPlayingNotices::isEnabled() const
{
    return settings::open()->value(kEnabledKey, true).toBool();
}

void NowPlayingNotices::setEnabled(bool enabled)
{
    settings::open()->setValue(kEnabledKey, enabled);
    if (m_toggle)
        m_toggle->setChecked(enabled);
}

bool NowPlayingNotices::windowHidden() const
{
    return !m_home->view()->window()->isVisible();
}

QString NowPlayingNotices::programName() const
{
    const QString name = program::name(m_home->shownProgram());
    return name.isEmpty() ? QStringLiteral("Orbitune") : name;
}

void NowPlayingNotices::playbackChanged()
{
    if (m_inhibitor)
        m_inhibitor->setInhibited(m_home->isPlaying());
    if (m_home->playbackState() == HomeViewController::PlaybackState::Failed) {
        m_lastTitle.clear();
        if (m_notifier && windowHidden() && isEnabled())
            m_notifier->show(programName(), QStringLiteral("Error, switch next one."));
    }
}

void NowPlayingNotices::titleChanged()
{
    if (m_home->playbackState() != HomeViewController::PlaybackState::Playing)
        return;
    const QString title = m_home->nowPlayingLabel()->text();
    if (title.isEmpty() || title == m_lastTitle)
        return;
    m_lastTitle = title;
    if (m_notifier && windowHidden() && isEnabled())
        m_notifier->show(programName(), title, m_home->previewImageView()->image());
}
