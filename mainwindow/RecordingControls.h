#pragma once

#include <QObject>

class PlaybackSession;
class QAction;
class QTimer;
class Recorder;
class WindowHost;

// The recorder in the main window and the tray: "Record" (key R) and "Save
// Last Song" (key S) in the tray menu's Playback section, "Save Current
// Song" beside them, the window's recording indicator and a tray tooltip
// line while recording. Failures are told in an alert on the window.
class RecordingControls : public QObject {
    Q_OBJECT
public:
    // All three outlive the controls.
    RecordingControls(PlaybackSession *session, Recorder *recorder, WindowHost *home,
                      QObject *parent = nullptr);

    QAction *recordAction() const { return m_record; }
    QAction *saveLastAction() const { return m_saveLast; }
    QAction *saveCurrentAction() const { return m_saveCurrent; }

private:
    void showRecording();
    void saveLast();
    void saveCurrent();
    void tell(const QString &text);
    void tellFailure(const QString &message);

    PlaybackSession *m_session;
    WindowHost *m_home;
    Recorder *m_recorder;
    QTimer *m_noticeTimer;
    QAction *m_record;
    QAction *m_saveLast;
    QAction *m_saveCurrent;
    int m_awaitedSave = 0; // the save whose outcome is to be told
};
