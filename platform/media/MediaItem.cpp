#include "platform/media/MediaItem.h"

MediaItem::MediaItem(const QUrl &url, QObject *parent) : QObject(parent), m_url(url) {}

void MediaItem::setStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged(int(status));
}

void MediaItem::setNowPlaying(const QString &title)
{
    if (title == m_nowPlaying)
        return;
    m_nowPlaying = title;
    Q_EMIT nowPlayingChanged(title);
}

void MediaItem::setReconnecting(bool reconnecting)
{
    if (reconnecting == m_reconnecting)
        return;
    m_reconnecting = reconnecting;
    Q_EMIT reconnectingChanged(reconnecting);
}

void MediaItem::setFormat(const StreamFormat &format)
{
    if (format == m_format)
        return;
    m_format = format;
    Q_EMIT formatChanged();
}

void MediaItem::setKeptAudio(std::shared_ptr<KeptAudio> kept)
{
    if (kept == m_kept)
        return;
    m_kept = std::move(kept);
    Q_EMIT keptAudioChanged();
}

#include "moc_MediaItem.cpp"
