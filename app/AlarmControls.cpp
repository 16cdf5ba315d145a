#include "app/AlarmControls.h"

#include "alarm/Alarm.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/ui/WindowHost.h"

#include <QAction>

namespace {
const QString kSnoozeKey = QStringLiteral("alarm-snooze");
const QString kStopKey = QStringLiteral("alarm-stop");
const QString kToolTipKey = QStringLiteral("alarm");
} // namespace

AlarmControls::AlarmControls(Alarm *alarm, WindowHost *home, DesktopNotifier *notifier,
                             QObject *parent)
    : QObject(parent), m_alarm(alarm), m_home(home)
{
    m_snooze = home->addTrayAction(TrayMenu::Section::Playback, QStringLiteral("Snooze 10 min"),
                                   "alarmSnoozeAction");
    m_stop =
        home->addTrayAction(TrayMenu::Section::Playback, QStringLiteral("Stop"), "alarmStopAction");
    connect(m_snooze, &QAction::triggered, alarm, &Alarm::snooze);
    connect(m_stop, &QAction::triggered, alarm, &Alarm::stop);
    connect(alarm, &Alarm::stateChanged, this, &AlarmControls::stateChanged);
    if (notifier) {
        connect(alarm, &Alarm::notice, notifier,
                [alarm, notifier](const QString &title, const QString &body) {
                    if (alarm->state() == Alarm::State::Ringing)
                        notifier->show(title, body, {},
                                       {{kSnoozeKey, QStringLiteral("Snooze 10 min")},
                                        {kStopKey, QStringLiteral("Stop")}});
                });
        connect(notifier, &DesktopNotifier::actionInvoked, alarm, [alarm](const QString &key) {
            if (key == kSnoozeKey)
                alarm->snooze();
            else if (key == kStopKey)
                alarm->stop();
        });
    }
    stateChanged();
}

void AlarmControls::stateChanged()
{
    const Alarm::State state = m_alarm->state();
    m_snooze->setVisible(state == Alarm::State::Ringing);
    m_stop->setVisible(state != Alarm::State::Off);
    if (!m_home)
        return;
    switch (state) {
    case Alarm::State::Ringing:
        m_home->setToolTipLine(kToolTipKey, QStringLiteral("Alarm: %1").arg(m_alarm->name()));
        break;
    case Alarm::State::Snoozed:
        m_home->setToolTipLine(kToolTipKey,
                               QStringLiteral("Alarm snoozed: %1").arg(m_alarm->name()));
        break;
    case Alarm::State::Off: m_home->setToolTipLine(kToolTipKey, QString()); break;
    }
}

#include "moc_AlarmControls.cpp"
