#include "mainwindow/RecordingControls.h"

#include "platform/ui/Alert.h"
#include "platform/ui/WindowHost.h"
#include "record/FileNaming.h"
#include "record/Recorder.h"
#include "session/PlaybackSession.h"
#include "store/ProgramEntry.h"

#include <QAction>
#include <QFileInfo>
#include <QTimer>

namespace {
constexpr int kNoticeMs = 4000;
const QString kToolTipKey = QStringLiteral("recording");
} // namespace

RecordingControls::RecordingControls(PlaybackSession *session, Recorder *recorder, WindowHost *home,
                                     QObject *parent)
    : QObject(parent), m_session(session), m_home(home), m_recorder(recorder),
      m_noticeTimer(new QTimer(this))
{
    auto add = [home](const QString &text, const char *name) {
        return home->addTrayAction(TrayMenu::Section::Playback, text, name);
    };
    m_record = add(QStringLiteral("Record"), "recordAction");
    m_record->setCheckable(true);
    m_saveLast = add(QStringLiteral("Save Last Song"), "saveLastSongAction");
    m_saveCurrent = add(QStringLiteral("Save Current Song"), "saveCurrentSongAction");
    connect(m_record, &QAction::triggered, this, [this](bool on) {
        m_recorder->setRecording(on);
        showRecording(); // not started when nothing plays: unchecked again
    });
    connect(m_saveLast, &QAction::triggered, this, &RecordingControls::saveLast);
    connect(m_saveCurrent, &QAction::triggered, this, &RecordingControls::saveCurrent);
    connect(home, &WindowHost::trayMenuAboutToShow, this, [this] {
        m_record->setEnabled(m_recorder->isRecording() ||
                             m_session->state() == PlaybackSession::State::Playing);
        m_saveLast->setEnabled(m_recorder->canSaveLastSong());
        m_saveCurrent->setEnabled(m_session->isPlaying());
    });

    home->addShortcut(QKeySequence(Qt::Key_R), "recordShortcut", this, [this] {
        const bool wanted = !m_recorder->isRecording();
        m_recorder->toggleRecording();
        // A stream that cannot be recorded is told by the failure alert.
        if (wanted && !m_recorder->isRecording() &&
            m_session->state() != PlaybackSession::State::Playing)
            tell(QStringLiteral("Play a program to record it"));
        else
            showRecording();
    });
    home->addShortcut(QKeySequence(Qt::Key_S), "saveLastSongShortcut", this,
                      [this] { saveLast(); });

    m_noticeTimer->setSingleShot(true);
    connect(m_noticeTimer, &QTimer::timeout, this, &RecordingControls::showRecording);
    connect(recorder, &Recorder::recordingChanged, this, [this] {
        m_noticeTimer->stop(); // the change is what to show now
        showRecording();
    });
    connect(recorder, &Recorder::failed, this, &RecordingControls::tellFailure);
    // Only the save asked for here is told, by the number it was given.
    connect(recorder, &Recorder::songSaved, this, [this](int save, const QString &path) {
        if (save != m_awaitedSave)
            return;
        m_awaitedSave = 0;
        tell(path.isEmpty()
                 ? QStringLiteral("The song could not be saved")
                 : QStringLiteral("Saved \u201C%1\u201D").arg(QFileInfo(path).completeBaseName()));
    });
    showRecording();
}

void RecordingControls::showRecording()
{
    const bool on = m_recorder->isRecording();
    m_record->setChecked(on);
    const QString program = program::name(m_session->currentProgram());
    m_home->setToolTipLine(kToolTipKey, on ? QStringLiteral("Recording") : QString());
    if (m_noticeTimer->isActive())
        return;
    m_home->showIndicator(
        on ? QStringLiteral("\u25CF Recording") : QString(),
        on ? QStringLiteral("Recording %1 to %2")
                 .arg(program, filenaming::programFolder(m_recorder->options().folder, program))
           : QStringLiteral("Not recording"));
}

void RecordingControls::saveLast()
{
    m_awaitedSave = m_recorder->saveLastSong();
    if (!m_awaitedSave)
        tell(QStringLiteral("No song has ended yet to save"));
}

void RecordingControls::saveCurrent()
{
    tell(m_recorder->saveCurrentSong() ? QStringLiteral("This song is saved when it ends")
                                       : QStringLiteral("Nothing plays to save"));
}

void RecordingControls::tell(const QString &text)
{
    m_noticeTimer->start(kNoticeMs);
    m_home->showIndicator(text, text);
}

void RecordingControls::tellFailure(const QString &message)
{
    showRecording();
    Alert alert;
    alert.setMessageText(QStringLiteral("Recording stopped"));
    alert.setInformativeText(message);
    alert.setAlertStyle(Alert::WarningStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.beginSheetModalForWindow(m_home->window());
}

#include "moc_RecordingControls.cpp"
