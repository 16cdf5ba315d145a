#pragma once

#include "history/HistoryStore.h"

#include <QAbstractTableModel>
#include <QTimer>

// The songs of the history as a table, newest first: starred, scrobbled
// (a mark for a song sent to a scrobbling service), time, program, title. Rows are read a page at a
// time as the view scrolls (canFetchMore/fetchMore), so a history of 100,000 songs opens as fast as
// one of 200. A search and "favourites only" narrow it; any change to the
// history (a new song, a star, a removal) is shown within the same turn of
// the event loop, several changes at once.
//
// Each row reads out through AT-SPI as its song: every cell has an
// accessible text, the star cell says "Starred" or "Not starred", and the
// (hidden) row header is the song's "Artist - Title".
class SongTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        StarColumn,
        ScrobbledColumn,
        TimeColumn,
        ProgramColumn,
        TitleColumn,
        ColumnCount
    };
    static constexpr int kPageSize = 200;

    explicit SongTableModel(HistoryStore *store, QObject *parent = nullptr);

    // Shows the songs matching `text` (every word, as typed so far).
    void setFilter(const QString &text, bool favouritesOnly);
    QString filterText() const { return m_text; }
    bool favouritesOnly() const { return m_favouritesOnly; }

    int count() const { return int(m_songs.size()); }
    const HistoryStore::Song &song(int row) const { return m_songs.at(row); }
    // The row showing the song `id`, -1 when it is not loaded.
    int rowOf(qint64 id) const;
    // Reads again what is shown (as many rows as were loaded).
    void reload();

    // The time as shown: the hour today, the day and hour before.
    static QString timeText(const QDateTime &startedUtc, const QDateTime &nowUtc);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

private:
    void load(int rows);

    HistoryStore *m_store;
    QList<HistoryStore::Song> m_songs;
    QString m_text;
    bool m_favouritesOnly = false;
    bool m_more = false;
    QTimer m_changed; // folds the changes of one turn into one reload
};
