#include "platform/ui/StatusItem.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QWheelEvent>

StatusItem::StatusItem(QObject *parent) : QObject(parent), m_tray(new QSystemTrayIcon(this))
{
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    performClick();
            });
    m_tray->installEventFilter(this);
}

bool StatusItem::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_tray || event->type() != QEvent::Wheel)
        return QObject::eventFilter(watched, event);
    const QPoint delta = static_cast<QWheelEvent *>(event)->angleDelta();
    m_wheelRest += delta.y() ? delta.y() : delta.x();
    const int steps = m_wheelRest / QWheelEvent::DefaultDeltasPerStep;
    m_wheelRest -= steps * QWheelEvent::DefaultDeltasPerStep;
    if (steps)
        Q_EMIT scrolled(steps);
    return true;
}

StatusItem::~StatusItem() = default;

void StatusItem::setImage(const QIcon &icon)
{
    m_tray->setIcon(icon);
    // Shown once it has its picture (or without one, when none could be
    // loaded: the tooltip and the click still work).
    m_tray->show();
}

QIcon StatusItem::image() const
{
    return m_tray->icon();
}

void StatusItem::setToolTip(const QString &toolTip)
{
    m_toolTip = toolTip;
    // Tool tips render anything that looks like markup; show it as typed.
    m_tray->setToolTip(Qt::mightBeRichText(toolTip) ? toolTip.toHtmlEscaped() : toolTip);
}

void StatusItem::setMenu(QMenu *menu)
{
    m_tray->setContextMenu(menu);
}

void StatusItem::performClick()
{
    if (m_action)
        m_action();
}

bool StatusItem::isTrayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

#include "moc_StatusItem.cpp"
