#pragma once

#include <QObject>
#include <QString>

#include <functional>

// A speaker Play On sends the session's stream to, whatever its kind: what
// PlayOn asks of a renderer or a Cast device, in a renderer's words (its
// transport state and the URI it plays), so that one PlayOn follows both.
class PlayOnPlace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // `done` hears the fault, empty when the place took the stream.
    using Done = std::function<void(const QString &error)>;
    struct Stream {
        // The stream server's address of the stream.
        QString url;
        QString mime;
        QString title;
        QString pictureUrl;
    };

    virtual QString name() const = 0;
    // The address of our interface that faces it: what a server for it
    // listens on; empty when it cannot be reached.
    virtual QString localAddress() const = 0;
    // Plays `stream` there; false, with nothing sent, when it cannot play
    // its codec.
    virtual bool offer(const Stream &stream, Done done) = 0;
    // "PLAYING", "STOPPED", "PAUSED_PLAYBACK", "TRANSITIONING", ...; empty
    // until it said.
    virtual QString transportState() const = 0;
    // What it was last told to play, by us or anyone; empty until it said.
    virtual QString currentUri() const = 0;
    virtual void stop() = 0;
    // Stops it and lets go of this handle once it answered.
    virtual void stopThenDelete() = 0;
    // 0..100.
    virtual void setVolume(int volume) = 0;
    virtual void setMute(bool mute) = 0;

Q_SIGNALS:
    // Its state and URI were read (changed or not).
    void polled();
    void lost();
};
