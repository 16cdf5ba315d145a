#pragma once

#include <QObject>
#include <QString>

class HistoryRecorder;
class HistoryStore;

// Starring the song that plays, from wherever the listener asks: the main
// window's heart (key L), the tray's "Love This Song", the notification's
// "Love". Starred songs are the favourites of the song history. The
// controls show isLoved() and are enabled while canLove().
class LoveSong : public QObject {
    Q_OBJECT
public:
    LoveSong(HistoryRecorder *recorder, HistoryStore *store, QObject *parent = nullptr);

    // A song is being kept, and is still in the history.
    bool canLove() const { return m_songId != 0; }
    bool isLoved() const { return m_loved; }
    void setLoved(bool loved);
    void toggle() { setLoved(!m_loved); }
    // Stars the song a notice told of: the one playing if its title is
    // `title` (as sent; compared as the history cleans it), else the newest
    // song with that title (the title may have changed since). False when
    // there is none.
    bool loveTitle(const QString &title);

Q_SIGNALS:
    // canLove() or isLoved() changed.
    void changed();

private:
    bool isCurrent(qint64 id) const;
    void show(qint64 id, bool loved);

    HistoryRecorder *m_recorder;
    HistoryStore *m_store;
    qint64 m_songId = 0;
    bool m_loved = false;
};
