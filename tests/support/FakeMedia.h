#pragma once

#include "platform/media/MediaPlayer.h"

#include <QList>
#include <QPointer>

#include <memory>

// A player that does nothing by itself: tests drive its item's status and
// see what the controller asked of it.
class FakeMediaPlayer : public MediaPlayer {
    Q_OBJECT
public:
    explicit FakeMediaPlayer(std::shared_ptr<MediaItem> item, int *allPlays = nullptr)
        : m_item(std::move(item)), m_allPlays(allPlays)
    {
    }
    std::shared_ptr<MediaItem> currentItem() const override { return m_item; }
    void play() override
    {
        ++plays;
        if (m_allPlays)
            ++*m_allPlays;
        playing = true;
    }
    void pause() override
    {
        ++pauses;
        volumesBeforePause = volumes.size();
        playing = false;
        // Like the real player: pausing ends a reconnect, unless it holds the station.
        if (m_item && m_item->isReconnecting() && !holds)
            m_item->setReconnecting(false);
    }
    void reconnectNow(ReconnectReason reason) override { reconnects << reason; }
    bool canSeek() const override { return seekable || behindMs > 0; }
    qint64 timeBehindLiveMs() const override { return behindMs; }
    qint64 keptMs() const override { return kept; }
    qint64 positionMs() const override { return position; }
    void seekBy(qint64 ms) override { seeks << ms; }
    void setPauseHolds(bool on) override { holds = on; }
    void setLevelling(bool on, double lufs) override
    {
        levelling = on;
        targetLufs = lufs;
    }
    void setVolume(double volume) override
    {
        MediaPlayer::setVolume(volume);
        volumes << volume;
    }

    bool levelling = false;
    double targetLufs = 0;
    int plays = 0;
    int pauses = 0;
    qsizetype volumesBeforePause = -1; // how many volumes were set before the last pause
    bool playing = false;
    // Time-shift: whether it keeps audio, how far behind live the listener
    // is, how much is kept and where the listener is; the seeks asked for.
    bool seekable = false;
    qint64 behindMs = 0;
    qint64 kept = 0;
    qint64 position = 0;
    QList<qint64> seeks;
    bool holds = false;
    QList<ReconnectReason> reconnects;
    QList<double> volumes; // every volume the controller set

private:
    std::shared_ptr<MediaItem> m_item;
    int *m_allPlays;
};

// Installs itself as the shared factory for its lifetime and keeps track of
// every player it made (players that were destroyed read as null).
class FakeMediaFactory : public MediaPlayerFactory {
public:
    FakeMediaFactory() { MediaPlayerFactory::setShared(this); }
    ~FakeMediaFactory() override { MediaPlayerFactory::setShared(nullptr); }

    std::unique_ptr<MediaPlayer> playerWithItem(std::shared_ptr<MediaItem> item) override
    {
        items << std::weak_ptr<MediaItem>(item);
        auto player = std::make_unique<FakeMediaPlayer>(item, &plays);
        players << QPointer<FakeMediaPlayer>(player.get());
        return player;
    }

    FakeMediaPlayer *last() const { return players.isEmpty() ? nullptr : players.last().data(); }
    std::shared_ptr<MediaItem> lastItem() const
    {
        return items.isEmpty() ? nullptr : items.last().lock();
    }
    int created() const { return int(players.size()); }

    QList<QPointer<FakeMediaPlayer>> players;
    int plays = 0; // of every player made, released ones included
    QList<std::weak_ptr<MediaItem>> items;
};
