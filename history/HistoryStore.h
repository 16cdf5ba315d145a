#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

// The songs heard, in an SQLite file of their own
// ($XDG_DATA_HOME/orbitune/history.sqlite), apart from the program list.
// Written in WAL mode, by HistoryWriter on a thread of its own: recording a
// title hands its row over and goes on, and what is read afterwards waits for
// what was handed over before. A file held by another process is waited for
// briefly on that thread, then the write is dropped. A file that cannot be
// opened or is corrupt is kept aside and a fresh one started. At most a year
// or 100,000 songs are kept. One store per file: ids are handed out here.
class HistoryWriter;

class HistoryStore : public QObject {
    Q_OBJECT
public:
    struct Song {
        qint64 id = 0;
        QString program;
        QString streamUrl;
        QString title;  // as sent, cleaned
        QString artist; // split from "Artist - Title", else empty
        QString song;
        QDateTime started; // UTC
        QDateTime ended;   // UTC; invalid while it plays
        bool favourite = false;
        QString file; // the recording of this song, if one was saved
    };

    static constexpr int kSchemaVersion = 2;
    static constexpr qsizetype kMaxTitleLength = 1024;
    static constexpr int kMaxSongs = 100000;
    static constexpr int kMaxDays = 365;

    explicit HistoryStore(const QString &path = defaultPath(), QObject *parent = nullptr);
    ~HistoryStore() override;

    static QString defaultPath();
    // A title as stored and shown: control characters gone, white space
    // folded, at most kMaxTitleLength characters.
    static QString cleanTitle(const QString &title);

    bool isOpen() const { return m_open; }
    // Records a song that started now, written on the writer's thread;
    // 0 when the history is not open.
    qint64 add(const QString &program, const QString &streamUrl, const QString &title);
    bool finish(qint64 id);
    bool setFavourite(qint64 id, bool favourite);
    // Links the song to the file it was saved or recorded to.
    bool setFile(qint64 id, const QString &path);
    bool remove(qint64 id);
    bool clear();
    // Newest first; `text` matches title, artist or program (every word).
    QList<Song> songs(const QString &text = QString(), bool favouritesOnly = false,
                      int limit = 1000) const;
    // The next `limit` songs of the same search after `last`, which the
    // search returned before: a page at a time, each as quick as the first.
    QList<Song> songsAfter(const Song &last, const QString &text = QString(),
                           bool favouritesOnly = false, int limit = 1000) const;
    std::optional<Song> song(qint64 id) const;
    // Waits until what was recorded so far is in the file.
    void waitForWrites();
    // Waits until the upkeep asked for so far is done (tests, benchmarks).
    void waitForUpkeep();

    // Where an unreadable file was kept when this store began a fresh one;
    // empty when nothing was put aside.
    QString keptAsideAs() const { return m_keptAs; }

Q_SIGNALS:
    // A song was added, ended, starred or removed, or the history cleared.
    void songsChanged();

private:
    // Runs a change; says songsChanged when it changed a row.
    bool change(const QString &sql, const QVariantList &values = {});
    QList<Song> query(const Song *after, const QString &text, bool favouritesOnly, int limit) const;
    // Asks the writer for the upkeep due after a song was added.
    void upkeepAfterAdd();

    QString m_path;
    QString m_connection;
    QString m_keptAs;
    bool m_open = false;
    qint64 m_lastId = 0;
    int m_adds = 0;
    std::unique_ptr<HistoryWriter> m_writer;
};
