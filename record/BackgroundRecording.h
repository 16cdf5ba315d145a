#pragma once

#include "record/Recorder.h"

#include <QObject>
#include <QVariantMap>

#include <memory>

class PlaybackSession;

// A recording on a connection of its own, for a program other than the one
// the listener hears: a session of its own plays the program without sound,
// and a recorder of its own writes it, one file per song, into a
// "<program> <date>" folder. It follows reconnects as playing does.
class BackgroundRecording : public QObject {
    Q_OBJECT
public:
    BackgroundRecording(const QVariantMap &program, const QDate &date,
                        const Recorder::Options &options, QObject *parent = nullptr);
    // Stops and closes the file being written.
    ~BackgroundRecording() override;

    // Opens the program's stream; recording starts once it plays.
    void start();
    bool isRecording() const;
    Recorder *recorder() const { return m_recorder.get(); }

Q_SIGNALS:
    // It stopped for good, saying why: the station could not be played, or
    // a file could not be written (what was written is kept).
    void failed(const QString &message);
    void fileWritten(const QString &path);

private:
    void sessionStateChanged();

    std::unique_ptr<PlaybackSession> m_session;
    std::unique_ptr<Recorder> m_recorder; // after the session: it goes first
    bool m_failed = false;
};
