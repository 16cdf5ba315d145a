#include "player/RecordingControls.h"

#include "platform/ui/Alert.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/TrayMenu.h"
#include "player/HomeViewController.h"
#include "record/FileNaming.h"
#include "record/Recorder.h"
#include "store/ProgramEntry.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTimer>

namespace {
constexpr int kNoticeMs = 4000;
const QString kToolTipKey = QStringLiteral("recording");
} // namespace

RecordingControls::RecordingControls(HomeViewController *home, Recorder *recorder, QObject *parent)
    : QObject(parent), m_home(home), m_recorder(recorder), m_noticeTimer(new QTimer(this))
{
    QMenu *menu = home->statusMenu();
    auto add = [this, menu](const QString &text, const char *name) {
        auto *action = new QAction(text, menu);
        action->setObjectName(QString::fromLatin1(name));
        m_home->trayMenu()->addAction(TrayMenu::Section::Playback, action);
        return action;
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
    connect(menu, &QMenu::aboutToShow, this, [this] {
        m_record->setEnabled(m_recorder->isRecording() ||
                             m_home->session()->state() == PlaybackSession::State::Playing);
        m_saveLast->setEnabled(m_recorder->canSaveLastSong());
        m_saveCurrent->setEnabled(m_home->session()->isPlaying());
    });

    QWidget *window = home->view()->window();
    auto key = [this, window](Qt::Key k, const char *name, std::function<void()> action) {
        ShortcutRegistry::add(window, QKeySequence(k), QString::fromLatin1(name), this,
                              std::move(action));
    };
    key(Qt::Key_R, "recordShortcut", [this] {
        const bool wanted = !m_recorder->isRecording();
        m_recorder->toggleRecording();
        // A stream that cannot be recorded is told by the failure alert.
        if (wanted && !m_recorder->isRecording() &&
            m_home->session()->state() != PlaybackSession::State::Playing)
            tell(QStringLiteral("Play a program to record it"));
        else
            showRecording();
    });
    key(Qt::Key_S, "saveLastSongShortcut", [this] { saveLast(); });

    m_indicator = home->view()->findChild<QLabel *>(QStringLiteral("recordingLabel"));
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
    const QString program = program::name(m_home->session()->currentProgram());
    m_home->setToolTipLine(kToolTipKey, on ? QStringLiteral("Recording") : QString());
    if (!m_indicator || m_noticeTimer->isActive())
        return;
    m_indicator->setVisible(on);
    m_indicator->setText(on ? QStringLiteral("\u25CF Recording") : QString());
    m_indicator->setAccessibleDescription(
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
    if (!m_indicator)
        return;
    m_noticeTimer->start(kNoticeMs);
    m_indicator->setText(text);
    m_indicator->setAccessibleDescription(text);
    m_indicator->setVisible(true);
}

void RecordingControls::tellFailure(const QString &message)
{
    showRecording();
    Alert alert;
    alert.setMessageText(QStringLiteral("Recording stopped"));
    alert.setInformativeText(message);
    alert.setAlertStyle(Alert::WarningStyle);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.beginSheetModalForWindow(m_home->view()->window());
}

#include "moc_RecordingControls.cpp"
