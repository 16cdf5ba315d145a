#pragma once

#include "history/ListenRules.h"
#include "history/ScrobbleQueue.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <limits>

class HistoryRecorder;
class PlaybackSession;

// Follows the songs as they are heard (the history's recorder: the title at
// the play position, time-shift included, a replay after going back and the
// station's own name left out) and how long each is heard, playing and not
// muted, and applies radio's rules for a listen (ListenRules): "now
// playing" at each song that may count, a listen when it ends. The first
// song after tuning in, and one reached by a seek, are joined in the
// middle. Stations the listener excluded say neither.
class ScrobbleTracker : public QObject {
    Q_OBJECT
public:
    // A title heard within this long after a seek was reached by it.
    static constexpr qint64 kSeekJoinsMs = 3000;

    ScrobbleTracker(PlaybackSession *session, HistoryRecorder *recorder, QObject *parent = nullptr);

    // The stream addresses of the programs never scrobbled.
    void setExcluded(const QSet<QString> &stationUrls) { m_excluded = stationUrls; }

Q_SIGNALS:
    void nowPlaying(const ScrobbleQueue::Listen &listen);
    void listened(const ScrobbleQueue::Listen &listen);

private:
    void songChanged(qint64 id);
    void stateChanged();
    // Counts the time heard since the last count.
    void account();
    ScrobbleQueue::Listen listenOf(const ListenRules::Listen &song, qint64 heardMs) const;

    PlaybackSession *m_session;
    HistoryRecorder *m_recorder;
    ListenRules m_rules;
    QSet<QString> m_excluded;
    QString m_station; // the song's
    qint64 m_song = 0;
    qint64 m_heardMs = 0;
    qint64 m_tick = 0;
    qint64 m_seekedAt = std::numeric_limits<qint64>::min() / 2;
    bool m_playing = false;
    bool m_muted = false;
    bool m_fresh = true; // no song heard since tuning in
};
