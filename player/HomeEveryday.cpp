// The everyday half of HomeViewController: volume keys, scrolling on the tray
// icon, and the tray tooltip that shows what changed.
#include "player/HomeViewController.h"

#include "platform/ui/StatusItem.h"
#include "player/Volume.h"
#include "store/ProgramEntry.h"

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

    auto add = [this](const QKeySequence &keys, const char *name, std::function<void()> action) {
        auto *shortcut = new QShortcut(keys, view());
        shortcut->setObjectName(QString::fromLatin1(name));
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, std::move(action));
    };
    add(QKeySequence(Qt::Key_Up), "volumeUpShortcut", [this] { m_volume->step(1); });
    add(QKeySequence(Qt::Key_Plus), "volumePlusShortcut", [this] { m_volume->step(1); });
    add(QKeySequence(Qt::Key_Equal), "volumeEqualShortcut", [this] { m_volume->step(1); });
    add(QKeySequence(Qt::Key_Down), "volumeDownShortcut", [this] { m_volume->step(-1); });
    add(QKeySequence(Qt::Key_Minus), "volumeMinusShortcut", [this] { m_volume->step(-1); });
    add(QKeySequence(Qt::Key_M), "muteShortcut", [this] { m_volume->toggleMute(); });
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
    m_statusItem->setToolTip(lines.join(QLatin1Char('\n')));
}
