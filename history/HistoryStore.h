#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// The songs heard, in an SQLite file of their own
// ($XDG_DATA_HOME/orbitune/history.sqlite), apart from the program list.
// Written in WAL mode, by HistoryWriter on a thread of its own: recording a
// title hands its row over and goes on, and what is read afterwards waits for
// what was handed over before. The file is opened on that thread too, so
// start-up never waits for it: while another process holds it, it is tried
// again and again, the songs heard meanwhile wait to be written, and reads
// find nothing yet; songsChanged() is said once it opens. A file SQLite
// calls corrupt or no database is kept aside with its log and a fresh one
// started. Once open, a write the file is held too long for is dropped. At
// most a year or 100,000 songs are kept. One store per file: ids are handed
// out here.
class HistoryWriter;
class QSqlQuery;

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
        QString file;           // the recording of this song, if one was saved
        bool scrobbled = false; // sent to a scrobbling service as a listen
    };

    static constexpr int kSchemaVersion = 3;
    static constexpr qsizetype kMaxTitleLength = 1024;
    static constexpr int kMaxSongs = 100000;
    static constexpr int kMaxDays = 365;
    static constexpr qint64 kProvisionalIds = qint64(1) << 62;

    explicit HistoryStore(const QString &path = defaultPath(), QObject *parent = nullptr);
    ~HistoryStore() override;

    static QString defaultPath();
    // A title as stored and shown: control characters gone, white space
    // folded, at most kMaxTitleLength characters.
    static QString cleanTitle(const QString &title);

    // Whether the file is open; after waiting for the first attempt to open
    // it, false while another process holds it.
    bool isOpen() const;
    // Records a song that started now, written on the writer's thread;
    // 0 when the file could not be opened. A song recorded while the file
    // opens has a provisional id (from kProvisionalIds on), good for every
    // call here.
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
    // The song `id`, as the file holds it; waits for what was handed over
    // (not for id 0, which is no song).
    std::optional<Song> song(qint64 id) const;
    // The id a song has in the file: the same, but for a provisional one
    // once the file is open.
    qint64 rowId(qint64 id) const;
    // Waits until what was recorded so far is in the file (and so, when
    // something was, until the file is open).
    void waitForWrites();
    // Waits until the upkeep asked for so far is done (tests, benchmarks).
    void waitForUpkeep();
    // Hands the work of another table in the file (the scrobbling queue)
    // to the writer's thread, after everything handed over before; dropped
    // when the file could not be opened.
    void postWork(std::function<bool(QSqlQuery &)> job);
    // In such work, on the writer's thread: the id the song `id` has in the
    // file, a provisional one as well.
    qint64 idInFile(qint64 id) const { return fileId(id); }

    // Where an unreadable file was kept when this store began a fresh one;
    // empty when nothing was put aside.
    QString keptAsideAs() const;

Q_SIGNALS:
    // A song was added, ended, starred or removed, or the history cleared,
    // or the file opened; or the scrobbling queue sent songs (their mark).
    void songsChanged();
    // The song `id` (as given to setFavourite) was starred or unstarred.
    void favouriteChanged(qint64 id, bool favourite);
    // The song `id` left the history: removed, or its row could not be
    // written; 0 for every song (cleared, or the file could not be opened).
    void songsRemoved(qint64 id);
    // The file could not be read: it was kept as `path`, a fresh one begun.
    void keptAside(const QString &path);

private:
    enum class State { Opening, Open, Closed };
    using Job = std::function<bool(QSqlQuery &)>;

    // Runs a change: waited for while the file is open (`said`, then
    // songsChanged, when it changed a row), handed over while it opens
    // (said at once).
    bool change(const Job &job, const std::function<void()> &said);
    QList<Song> query(const Song *after, const QString &text, bool favouritesOnly, int limit) const;
    // Asks the writer for the upkeep due after a song was added.
    void upkeepAfterAdd();
    // On the writer's thread: the id `id` has in the file.
    qint64 fileId(qint64 id) const
    {
        return id > kProvisionalIds ? m_openedLastId + (id - kProvisionalIds) : id;
    }
    // Takes in how opening the file went, once it is known; reads wait for
    // the first attempt.
    void settle(bool wait) const { const_cast<HistoryStore *>(this)->takeOpening(wait); }
    void takeOpening(bool wait);
    void announceOpened();

    QString m_path;
    QString m_connection;
    QString m_keptAs;
    State m_state = State::Opening;
    qint64 m_lastId = 0;
    qint64 m_provisional = 0; // songs recorded while the file opened
    qint64 m_base = 0;        // the file's highest id as it opened
    int m_adds = 0;
    // Set on the writer's thread while it opens the file, read here once
    // it is open.
    qint64 m_openedLastId = 0;
    QString m_openedKeptAs;
    std::unique_ptr<HistoryWriter> m_writer;
};
