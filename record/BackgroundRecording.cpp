#include "record/BackgroundRecording.h"

#include "session/PlaybackSession.h"
#include "session/Volume.h"

BackgroundRecording::BackgroundRecording(const QVariantMap &program, const QDate &date,
                                         const Recorder::Options &options, QObject *parent)
    : QObject(parent), m_session(std::make_unique<PlaybackSession>())
{
    m_session->setOwnProgram(program);
    // Silent without touching the listener's volume, which the fade leaves.
    m_session->volume()->setFade(0.0);
    Recorder::Options own = options;
    own.folderDate = date;
    m_recorder = std::make_unique<Recorder>(m_session.get(), own);
    connect(m_session.get(), &PlaybackSession::stateChanged, this,
            &BackgroundRecording::sessionStateChanged);
    connect(m_recorder.get(), &Recorder::fileWritten, this, &BackgroundRecording::fileWritten);
    connect(m_recorder.get(), &Recorder::failed, this, [this](const QString &message) {
        if (m_failed)
            return;
        m_failed = true;
        m_session->pause();
        Q_EMIT failed(message);
    });
}

BackgroundRecording::~BackgroundRecording()
{
    m_recorder->setRecording(false);
    m_session->pause();
}

void BackgroundRecording::start()
{
    m_session->playCurrent();
}

bool BackgroundRecording::isRecording() const
{
    return m_recorder->isRecording();
}

void BackgroundRecording::sessionStateChanged()
{
    if (m_failed)
        return;
    switch (m_session->state()) {
    case PlaybackSession::State::Playing: m_recorder->setRecording(true); break;
    case PlaybackSession::State::Failed:
        m_failed = true;
        Q_EMIT failed(QStringLiteral("The station could not be played."));
        break;
    case PlaybackSession::State::Idle:
    case PlaybackSession::State::Loading:
    case PlaybackSession::State::Paused: break;
    }
}

#include "moc_BackgroundRecording.cpp"
