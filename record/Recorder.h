#pragma once

#include "history/HistoryStore.h"
#include "record/RecordingWriter.h"
#include "record/SongSpans.h"
#include "record/StreamBuffer.h"

#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class PlaybackSession;

// Keeps the music: records the playing program losslessly, one file per
// song, and saves a song that already played from the buffer of the last
// minutes. It reads the stream where the session's player keeps it (the
// time-shift timeline of the connection that is heard), or, for a stream the
// player keeps none of, from the session's tap into a StreamBuffer of its
// own; and it follows the session: recording stops with a
// pause, a failure, another program or quitting, and goes on across a
// reconnect with a new file after the gap.
//
// Files go to <music folder>/Orbitune/<program>/, written on a worker
// thread; the first and last song of a recording are usually cut and are
// marked " (partial)" (or dropped, as the settings say). A song longer than
// splitMs (or a station without titles) is kept in parts, " (part N)", every
// byte of it. A stream that cannot be recorded as sent is not recorded, and
// the listener is told why.
class Recorder : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString folder;                  // empty: the music folder's "Orbitune"
        bool keepPartial = true;         // the cut first and last songs
        qint64 bufferBytes = 15'000'000; // about 15 minutes at 128 kbit/s
        qint64 splitMs = 60 * 60 * 1000; // longest file (scaled by the Clock)
        int pollMs = 1000;               // how often new audio is written
        QDate folderDate;                // valid: "<program> <date>" folders
    };
    // The settings file's "recording/..." values.
    static Options savedOptions();

    explicit Recorder(PlaybackSession *session, const Options &options = savedOptions(),
                      QObject *parent = nullptr);
    // Closes the file being written and waits for the writes asked for.
    ~Recorder() override;

    bool isRecording() const { return m_recording; }
    // Starts (only while a program plays) or stops recording; recording
    // starts with the song on now, from its beginning if the buffer holds it.
    void setRecording(bool on);
    void toggleRecording() { setRecording(!m_recording); }

    // Whether the buffer holds a song that has ended.
    bool canSaveLastSong() const;
    // Writes the last song that ended, whole, as one file; 0 if there is
    // none, else the number songSaved names this save by.
    int saveLastSong();
    // Writes the song playing now once it ends; false when nothing plays.
    bool saveCurrentSong();
    // For the history: whether `song` is still in the buffer, and saving it.
    bool canSave(const HistoryStore::Song &song) const;
    int save(const HistoryStore::Song &song);

    // Saved and recorded songs are linked to their history rows.
    void setHistory(HistoryStore *history) { m_history = history; }
    std::shared_ptr<StreamBuffer> buffer() const { return m_buffer; }
    const Options &options() const { return m_options; }
    // Files begun from now on go to "<program> <date>" folders (a scheduled
    // recording), or with an invalid date to the program's own folder.
    void setFolderDate(const QDate &date) { m_options.folderDate = date; }

Q_SIGNALS:
    void recordingChanged(bool recording);
    // A file is complete on the disk.
    void fileWritten(const QString &path);
    // The save numbered `save` ended: its file is at `path`, or it failed
    // (`path` empty, `error` says why when there is a reason).
    void songSaved(int save, const QString &path, const QString &error);
    // Writing failed (the disk is full, the folder cannot be written):
    // recording stopped. Said once until recording is started again.
    void failed(const QString &message);

private:
    // A history song and a title change in the buffer are the same song when
    // they began this close together.
    static constexpr qint64 kHistoryMatchMs = 30 * 1000;
    // Connections of one program read as one, at most (pauses in a row).
    static constexpr int kMaxJoined = 8;
    static constexpr int kTrimMs = 5000;

    void sessionStateChanged();
    // Reads from what the session's player keeps, or (when it keeps
    // nothing) from the buffer, which only then is given the stream.
    void followKeptAudio();
    void readFrom(const std::shared_ptr<KeptAudio> &kept);
    void pump();
    void writeRecording();
    // Opens the file of `span` at the cursor: the song, or (part > 1) the
    // next part of it.
    void openFile(const SongSpan &span, int part = 0);
    // `cutEnd`: the song goes on after what the file holds.
    void closeFile(bool cutEnd);
    QString recordingFileName(bool partial) const;
    void stopRecording();
    void writeFailed(const QString &error);
    int saveSpan(const SongSpan &span);
    // Whether the song's end has been heard: behind live (time-shift), a
    // song that ended after the play position has not ended yet.
    bool endedWhereHeard(const SongSpan &span) const;
    // The first frame boundary at or after `offset`; -1 while the buffer
    // does not reach far enough to tell.
    qint64 cutAt(StreamTap::Format format, qint64 offset) const;
    // What a file of `span` starting at `*from` begins with: an ID3 tag, or
    // an Ogg stream's headers with our comments (moving `*from` past the
    // stream's own when it starts there).
    QByteArray headerFor(const SongSpan &span, qint64 *from) const;
    QString fileNameFor(const SongSpan &span, qint64 from, bool partial) const;
    // `startedMs` (-1: not linked) finds the file's song in the history;
    // `save` is the number of a save, 0 for a recording.
    void fileDone(const QString &path, const QString &error, const QString &title, qint64 startedMs,
                  int save);
    std::optional<SongSpan> spanOf(const HistoryStore::Song &song) const;
    // The songs in what is kept (between `start` and `end`), each Ogg chain
    // titled by its comments.
    QList<SongSpan> songs(qint64 start, qint64 end) const;
    QList<SongSpan> songs() const { return songs(m_audio->startOffset(), m_audio->endOffset()); }

    PlaybackSession *m_session;
    Options m_options;
    std::shared_ptr<StreamBuffer> m_buffer;
    // What the songs are read from: the buffer, or what the player keeps.
    std::shared_ptr<const KeptAudio> m_audio;
    std::shared_ptr<KeptAudio> m_keptGiven; // the player's, read now
    // What the program's last connection kept, while the next one opens.
    std::shared_ptr<const KeptAudio> m_held;
    QTimer m_trim{this};
    std::weak_ptr<KeptAudio> m_forgotten; // of the program before
    std::unique_ptr<RecordingWriter> m_writer;
    QPointer<HistoryStore> m_history;
    QTimer m_poll{this};
    QString m_program; // of what the buffer holds

    bool m_recording = false;
    bool m_failureTold = false;
    bool m_closing = false; // the recorder is being destroyed
    int m_lastSave = 0;
    qint64 m_cursor = 0; // the next byte to write
    RecordingWriter::Handle m_file;
    qint64 m_fileSpan = -1;     // where the song being written began
    qint64 m_fileFrom = 0;      // where the file's audio begins
    bool m_filePartial = false; // its song's start is not in it
    bool m_skipping = false;    // a cut song that is not kept
    int m_filePart = 0;         // 1, 2, ... once the song is split into parts
    QString m_fileTitle;
    QString m_fileName; // as it was opened
    StreamTap::Format m_fileFormat = StreamTap::Format::Unknown;
    qint64 m_fileSongMs = 0; // when its song began
    qint64 m_fileNameMs = 0; // the time in its name
    QElapsedTimer m_fileAge;
    qint64 m_saveWhenEnds = -1; // the song to save once it ends
};
