#include "history/LoveSong.h"

#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"

LoveSong::LoveSong(HistoryRecorder *recorder, HistoryStore *store, QObject *parent)
    : QObject(parent), m_recorder(recorder), m_store(store)
{
    // Followed from what the recorder and the store say, never read back
    // from the file: a title change must not wait for the writer.
    connect(recorder, &HistoryRecorder::currentSongChanged, this,
            [this](qint64 id) { show(id, false); }); // a song just heard has no star yet
    connect(store, &HistoryStore::favouriteChanged, this, [this](qint64 id, bool favourite) {
        if (isCurrent(id))
            show(m_songId, favourite);
    });
    // A song removed from the history while it plays (Delete, Clear
    // History), or never written, can no longer be starred.
    connect(store, &HistoryStore::songsRemoved, this, [this](qint64 id) {
        if (m_songId && (id == 0 || isCurrent(id)))
            show(0, false);
    });
    if (const auto song = store->song(recorder->currentSong()))
        show(recorder->currentSong(), song->favourite);
}

bool LoveSong::isCurrent(qint64 id) const
{
    return m_songId != 0 && m_store->rowId(id) == m_store->rowId(m_songId);
}

void LoveSong::show(qint64 id, bool loved)
{
    if (id == m_songId && loved == m_loved)
        return;
    m_songId = id;
    m_loved = loved;
    Q_EMIT changed();
}

void LoveSong::setLoved(bool loved)
{
    if (m_songId)
        m_store->setFavourite(m_songId, loved);
}

bool LoveSong::loveTitle(const QString &title)
{
    // The notice holds the title as sent; the history keeps it cleaned.
    const QString clean = HistoryStore::cleanTitle(title);
    if (clean.isEmpty())
        return false;
    if (m_songId && m_recorder->currentTitle() == clean)
        return m_store->setFavourite(m_songId, true);
    for (const HistoryStore::Song &s : m_store->songs(clean, false, 50)) {
        if (s.title == clean)
            return m_store->setFavourite(s.id, true);
    }
    return false;
}

#include "moc_LoveSong.cpp"
