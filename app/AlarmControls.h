#pragma once

#include <QObject>
#include <QPointer>

class Alarm;
class DesktopNotifier;
class QAction;
class WindowHost;

// How the listener answers a ringing alarm: "Snooze 10 min" and "Stop" in
// the tray menu (shown only while it rings or is snoozed) and on its
// notification, and a line in the tray's tooltip. The alarm's notices go to
// the desktop's notifications, which screen readers speak.
class AlarmControls : public QObject {
    Q_OBJECT
public:
    AlarmControls(Alarm *alarm, WindowHost *home, DesktopNotifier *notifier,
                  QObject *parent = nullptr);

private:
    void stateChanged();

    Alarm *m_alarm;
    QPointer<WindowHost> m_home;
    QAction *m_snooze = nullptr;
    QAction *m_stop = nullptr;
};
