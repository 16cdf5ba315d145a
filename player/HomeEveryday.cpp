// The everyday half of HomeViewController: volume keys, scrolling on the tray
// icon, the sleep timer, and the tray tooltip that shows what changed.
#include "player/HomeViewController.h"

#include "platform/ui/StatusItem.h"
#include "session/SleepTimer.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

#include <QActionGroup>
#include <QMenu>
#include <QShortcut>
#include <QTimer>
#include <QWidget>

namespace {
constexpr int kVolumeTipMs = 2000;
} // namespace

void HomeViewController::installEverydayControls()
{
    connect(m_volume, &Volume::effectiveChanged, this, &HomeViewController::applyVolume);
    m_volumeTip = new QTimer(this);
    m_volumeTip->setSingleShot(true);
    m_volumeTip->setInterval(kVolumeTipMs);
    connect(m_volumeTip, &QTimer::timeout, this, &HomeViewController::updateToolTip);
    connect(m_volume, &Volume::changed, this, [this] {
        m_volumeTip->start();
        updateToolTip();
    });
    connect(m_statusItem, &StatusItem::scrolled, m_volume, &Volume::step);
    buildSleepMenu();

    auto add = [this](const QKeySequence &keys, const char *name, std::function<void()> action) {
        addShortcut(keys, name, std::move(action));
    };
    add(QKeySequence(Qt::Key_Up), "volumeUpShortcut", [this] { m_volume->step(1); });
    add(QKeySequence(Qt::Key_Plus), "volumePlusShortcut", [this] { m_volume->step(1); });
    add(QKeySequence(Qt::Key_Equal), "volumeEqualShortcut", [this] { m_volume->step(1); });
    add(QKeySequence(Qt::Key_Down), "volumeDownShortcut", [this] { m_volume->step(-1); });
    add(QKeySequence(Qt::Key_Minus), "volumeMinusShortcut", [this] { m_volume->step(-1); });
    add(QKeySequence(Qt::Key_M), "muteShortcut", [this] { m_volume->toggleMute(); });
}

void HomeViewController::buildSleepMenu()
{
    m_sleep = new SleepTimer(this);
    auto *menu = new QMenu(QStringLiteral("Sleep Timer"), m_statusMenu);
    menu->setObjectName(QStringLiteral("sleepMenu"));
    auto *group = new QActionGroup(menu);
    group->setExclusive(true);
    QAction *off = nullptr;
    for (int minutes : {0, 15, 30, 60, 90}) {
        QAction *action = menu->addAction(minutes ? QStringLiteral("%1 minutes").arg(minutes)
                                                  : QStringLiteral("Off"));
        action->setObjectName(QStringLiteral("sleep%1Action").arg(minutes));
        action->setCheckable(true);
        group->addAction(action);
        connect(action, &QAction::triggered, m_sleep, [this, minutes] { m_sleep->start(minutes); });
        if (!minutes)
            off = action;
    }
    off->setChecked(true);
    // Before the separator and Quit.
    const QList<QAction *> actions = m_statusMenu->actions();
    m_statusMenu->insertMenu(actions.value(actions.size() - 2), menu);

    connect(m_sleep, &SleepTimer::remainingChanged, this, &HomeViewController::updateToolTip);
    connect(m_sleep, &SleepTimer::fadeChanged, m_volume, &Volume::setFade);
    connect(m_sleep, &SleepTimer::finished, this, &HomeViewController::sleepTimerFinished);
    connect(m_sleep, &SleepTimer::stopped, this, [this, off] {
        off->setChecked(true);
        updateToolTip();
    });
}

void HomeViewController::sleepTimerFinished()
{
    // The same as pressing pause; the next play is at the usual volume.
    if (isPlaying())
        togglePlayback(false);
    m_volume->setFade(1.0);
}

void HomeViewController::applyVolume()
{
    if (!m_player)
        return;
    m_player->setVolume(m_volume->effectiveLevel());
    m_player->setMuted(m_volume->isMuted());
}

void HomeViewController::updateToolTip()
{
    if (!m_statusItem)
        return;
    QStringList lines{program::name(m_shownProgram)};
    if (m_volumeTip && m_volumeTip->isActive())
        lines << (m_volume->isMuted()
                      ? QStringLiteral("Muted")
                      : QStringLiteral("Volume %1%").arg(qRound(m_volume->level() * 100)));
    if (m_sleep && m_sleep->isRunning()) {
        const int left = m_sleep->minutesLeft();
        lines << (left ? QStringLiteral("Sleep timer: %1 min left").arg(left)
                       : QStringLiteral("Sleep timer: fading out"));
    }
    m_statusItem->setToolTip(lines.join(QLatin1Char('\n')));
}
