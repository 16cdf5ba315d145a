// The everyday half of HomeViewController: volume keys, scrolling on the tray
// icon, the sleep timer's menu, and the tray tooltip that shows what changed.
// The volume and the timer themselves belong to the playback session.
#include "player/HomeViewController.h"

#include "platform/ui/StatusItem.h"
#include "platform/ui/TrayMenu.h"
#include "platform/ui/WindowHost.h"
#include "session/SleepTimer.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

#include <QActionGroup>
#include <QMenu>
#include <QTimer>
#include <QWidget>

namespace {
constexpr int kVolumeTipMs = 2000;
} // namespace

void HomeViewController::installEverydayControls()
{
    Volume *volume = m_session->volume();
    m_volumeTip = new QTimer(this);
    m_volumeTip->setSingleShot(true);
    m_volumeTip->setInterval(kVolumeTipMs);
    connect(m_volumeTip, &QTimer::timeout, this, &HomeViewController::updateToolTip);
    connect(volume, &Volume::changed, this, [this] {
        m_volumeTip->start();
        updateToolTip();
    });
    connect(m_statusItem, &StatusItem::scrolled, volume, &Volume::step);
    buildSleepMenu();

    auto add = [this](const QKeySequence &keys, const char *name, std::function<void()> action) {
        addShortcut(keys, name, std::move(action));
    };
    add(QKeySequence(Qt::Key_Up), "volumeUpShortcut", [volume] { volume->step(1); });
    add(QKeySequence(Qt::Key_Plus), "volumePlusShortcut", [volume] { volume->step(1); });
    add(QKeySequence(Qt::Key_Equal), "volumeEqualShortcut", [volume] { volume->step(1); });
    add(QKeySequence(Qt::Key_Down), "volumeDownShortcut", [volume] { volume->step(-1); });
    add(QKeySequence(Qt::Key_Minus), "volumeMinusShortcut", [volume] { volume->step(-1); });
    add(QKeySequence(Qt::Key_M), "muteShortcut", [volume] { volume->toggleMute(); });
}

void HomeViewController::buildSleepMenu()
{
    SleepTimer *sleep = m_session->sleepTimer();
    auto *menu = new QMenu(QStringLiteral("Sleep Timer"), statusMenu());
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
        connect(action, &QAction::triggered, sleep, [sleep, minutes] { sleep->start(minutes); });
        if (!minutes)
            off = action;
    }
    off->setChecked(true);
    m_trayMenu->addMenu(TrayMenu::Section::Listening, menu);

    connect(sleep, &SleepTimer::remainingChanged, this, &HomeViewController::updateToolTip);
    connect(sleep, &SleepTimer::stopped, this, [this, off] {
        off->setChecked(true);
        updateToolTip();
    });
}

void HomeViewController::updateToolTip()
{
    const Volume *volume = m_session->volume();
    const SleepTimer *sleep = m_session->sleepTimer();
    QString volumeLine;
    if (m_volumeTip->isActive())
        volumeLine = volume->isMuted()
                         ? QStringLiteral("Muted")
                         : QStringLiteral("Volume %1%").arg(qRound(volume->level() * 100));
    m_host->setToolTipLine(QStringLiteral("volume"), volumeLine);
    QString sleepLine;
    if (sleep->isRunning()) {
        const int left = sleep->minutesLeft();
        sleepLine = left ? QStringLiteral("Sleep timer: %1 min left").arg(left)
                         : QStringLiteral("Sleep timer: fading out");
    }
    m_host->setToolTipLine(QStringLiteral("sleep"), sleepLine);
}
