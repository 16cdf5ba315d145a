#include "history/LoveSong.h"

#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"

LoveSong::LoveSong(HistoryRecorder *recorder, HistoryStore *store, QObject *parent)
    : QObject(parent), m_recorder(recorder), m_store(store)
{
    connect(recorder, &HistoryRecorder::currentSongChanged, this, &LoveSong::refresh);
    connect(store, &HistoryStore::songsChanged, this, &LoveSong::refresh);
    refresh();
}

void LoveSong::refresh()
{
    // A song removed from the history while it plays (Delete, Clear
    // History) can no longer be starred.
    const auto song = m_store->song(m_recorder->currentSong());
    const qint64 id = song ? song->id : 0;
    const bool loved = song && song->favourite;
    if (id == m_songId && loved == m_loved)
        return;
    m_songId = id;
    m_loved = loved;
    Q_EMIT changed();
}

void LoveSong::setLoved(bool loved)
{
    if (m_songId && m_store->setFavourite(m_songId, loved))
        refresh();
}

bool LoveSong::loveTitle(const QString &title)
{
    if (title.isEmpty())
        return false;
    if (const auto current = m_store->song(m_recorder->currentSong());
        current && current->title == title)
        return m_store->setFavourite(current->id, true);
    for (const HistoryStore::Song &s : m_store->songs(title, false, 50)) {
        if (s.title == title)
            return m_store->setFavourite(s.id, true);
    }
    return false;
}

#include "moc_LoveSong.cpp"
