#pragma once

#include "platform/media/StreamFormat.h"
#include "platform/stream/KeptAudio.h"
#include "platform/stream/StreamTap.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

// One stream to open, and what is known about it so far. The player that
// opens the item reports through it; everything is delivered on the main
// thread, and each signal fires only when its value really changes.
class MediaItem : public QObject {
    Q_OBJECT
public:
    enum Status { StatusUnknown = 0, StatusReadyToPlay = 1, StatusFailed = 2 };
    Q_ENUM(Status)

    explicit MediaItem(const QUrl &url, QObject *parent = nullptr);

    QUrl url() const { return m_url; }
    Status status() const { return m_status; }
    // Title the stream announces (ICY StreamTitle or tags), empty if none.
    QString nowPlaying() const { return m_nowPlaying; }
    // True while a stream that was playing is being reopened after a drop.
    bool isReconnecting() const { return m_reconnecting; }
    QString errorString() const { return m_errorString; }
    // The codec, bitrate and sample rate, as far as the stream told them.
    StreamFormat format() const { return m_format; }
    // Where the player also sends the compressed audio of every connection
    // it opens for this item; set before the item is given to a player.
    std::shared_ptr<StreamTap> streamTap() const { return m_tap; }
    void setStreamTap(std::shared_ptr<StreamTap> tap) { m_tap = std::move(tap); }
    // The stream as the player keeps it itself (time-shift's timeline), for
    // the recorder to read instead of keeping a copy; null while it keeps
    // none (a file, HLS). Read on the main thread.
    std::shared_ptr<KeptAudio> keptAudio() const { return m_kept; }

    // For player implementations.
    void setStatus(Status status);
    void setNowPlaying(const QString &title);
    void setReconnecting(bool reconnecting);
    void setFormat(const StreamFormat &format);
    void setKeptAudio(std::shared_ptr<KeptAudio> kept);
    void setErrorString(const QString &error) { m_errorString = error; }
    // A stream with a known length played to its end.
    void markEnded() { Q_EMIT ended(); }

Q_SIGNALS:
    void statusChanged(int status);
    void nowPlayingChanged(const QString &title);
    void reconnectingChanged(bool reconnecting);
    void formatChanged();
    void keptAudioChanged();
    void ended();

private:
    QUrl m_url;
    Status m_status = StatusUnknown;
    QString m_nowPlaying;
    bool m_reconnecting = false;
    QString m_errorString;
    StreamFormat m_format;
    std::shared_ptr<StreamTap> m_tap;
    std::shared_ptr<KeptAudio> m_kept;
};
