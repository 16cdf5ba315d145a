#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class HistoryStore;
class PlaybackSession;

// Keeps every song heard: each new stream title while a program plays
// becomes a song in the history, ended by the next title or by the end of
// listening (pause, failure, another program). Empty titles, the program's
// own name, and a title repeated within one listening (a stream that
// reconnects and sends it again) are not kept twice.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    HistoryRecorder(PlaybackSession *session, HistoryStore *store, QObject *parent = nullptr);
    // Ends the song playing, if any.
    ~HistoryRecorder() override;

    // The song playing now, 0 when none is being kept.
    qint64 currentSong() const { return m_current; }
    // Its title as the history keeps it; empty when none is kept.
    QString currentTitle() const { return m_current ? m_lastTitle : QString(); }

Q_SIGNALS:
    void currentSongChanged(qint64 id);

private:
    void setCurrent(qint64 id);
    void titleChanged(const QString &title);
    void stateChanged();
    void endSong();

    PlaybackSession *m_session;
    HistoryStore *m_store;
    qint64 m_current = 0;
    QString m_lastTitle; // within this listening
    QString m_programUrl;
    QSet<QString> m_kept;   // the songs kept within this listening
    bool m_shifted = false; // the listener moved within the station's time
};
