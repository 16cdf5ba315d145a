#include "mainwindow/TrayControls.h"

#include "platform/ui/WindowHost.h"
#include "session/PlaybackSession.h"
#include "session/SleepTimer.h"
#include "session/Volume.h"

#include <QActionGroup>
#include <QMenu>
#include <QTimer>

namespace {
constexpr int kVolumeTipMs = 2000;
} // namespace

TrayControls::TrayControls(PlaybackSession *session, WindowHost *host, QObject *parent)
    : QObject(parent), m_session(session), m_host(host), m_volumeTip(new QTimer(this))
{
    Volume *volume = session->volume();
    m_volumeTip->setSingleShot(true);
    m_volumeTip->setInterval(kVolumeTipMs);
    connect(m_volumeTip, &QTimer::timeout, this, &TrayControls::updateToolTip);
    connect(volume, &Volume::changed, this, [this] {
        m_volumeTip->start();
        updateToolTip();
    });
    connect(host, &WindowHost::trayScrolled, volume, &Volume::step);

    using Section = TrayMenu::Section;
    QAction *play = host->addTrayAction(Section::Playback, QStringLiteral("Play"), "playAction");
    connect(play, &QAction::triggered, session, &PlaybackSession::toggle);
    connect(host, &WindowHost::trayMenuAboutToShow, play, [play, session] {
        play->setText(session->isPlaying() ? QStringLiteral("Pause") : QStringLiteral("Play"));
    });
    buildSleepMenu();
    QAction *even = host->addTrayAction(Section::Listening, QStringLiteral("Even Out Loudness"),
                                        "evenLoudnessAction");
    even->setCheckable(true);
    even->setChecked(session->evenLoudness());
    connect(even, &QAction::toggled, session, &PlaybackSession::setEvenLoudness);
    QAction *quit = host->addTrayAction(Section::Application, QStringLiteral("Quit"), "quitAction");
    connect(quit, &QAction::triggered, host, &WindowHost::quitRequested);

    auto add = [this, host](const QKeySequence &keys, const char *name,
                            std::function<void()> action) {
        host->addShortcut(keys, name, this, std::move(action));
    };
    add(QKeySequence(Qt::Key_Space), "playShortcut", [session] { session->toggle(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), "quitShortcut",
        [host] { Q_EMIT host->quitRequested(); });
    add(QKeySequence(Qt::Key_Up), "volumeUpShortcut", [volume] { volume->step(1); });
    add(QKeySequence(Qt::Key_Plus), "volumePlusShortcut", [volume] { volume->step(1); });
    add(QKeySequence(Qt::Key_Equal), "volumeEqualShortcut", [volume] { volume->step(1); });
    add(QKeySequence(Qt::Key_Down), "volumeDownShortcut", [volume] { volume->step(-1); });
    add(QKeySequence(Qt::Key_Minus), "volumeMinusShortcut", [volume] { volume->step(-1); });
    add(QKeySequence(Qt::Key_M), "muteShortcut", [volume] { volume->toggleMute(); });
}

void TrayControls::buildSleepMenu()
{
    SleepTimer *sleep = m_session->sleepTimer();
    QMenu *menu = m_host->addTrayMenu(TrayMenu::Section::Listening, QStringLiteral("Sleep Timer"),
                                      "sleepMenu");
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

    connect(sleep, &SleepTimer::remainingChanged, this, &TrayControls::updateToolTip);
    connect(sleep, &SleepTimer::stopped, this, [this, off] {
        off->setChecked(true);
        updateToolTip();
    });
}

void TrayControls::updateToolTip()
{
    const Volume *volume = m_session->volume();
    const SleepTimer *sleep = m_session->sleepTimer();
    QString volumeLine;
    if (m_volumeTip->isActive())
        volumeLine = volume->effectiveMuted()
                         ? QStringLiteral("Muted")
                         : QStringLiteral("Volume %1%").arg(qRound(volume->heardLevel() * 100));
    m_host->setToolTipLine(QStringLiteral("volume"), volumeLine);
    QString sleepLine;
    if (sleep->isRunning()) {
        const int left = sleep->minutesLeft();
        sleepLine = left ? QStringLiteral("Sleep timer: %1 min left").arg(left)
                         : QStringLiteral("Sleep timer: fading out");
    }
    m_host->setToolTipLine(QStringLiteral("sleep"), sleepLine);
}
