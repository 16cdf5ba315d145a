#include "record/Recorder.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/base/Settings.h"
#include "platform/stream/AudioFrames.h"
#include "platform/stream/JoinedAudio.h"
#include "platform/stream/StreamTitle.h"
#include "record/FileNaming.h"
#include "record/FileTags.h"
#include "record/OggPages.h"
#include "session/PlaybackSession.h"
#include "store/ProgramEntry.h"

#include <QDateTime>

namespace {

// How far past a cut the next frame header is looked for before the cut is
// made where it is (a stream of garbage must not stall the recording).
constexpr qint64 kResyncWindow = 64 * 1024;
// More than this waiting for the disk: it does not keep up.
constexpr qint64 kMaxPendingBytes = 32 * 1024 * 1024;

QDateTime fromMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QString cannotRecord()
{
    return QStringLiteral("This stream cannot be recorded as it is sent. Orbitune records MP3, "
                          "AAC and Ogg (Vorbis, Opus, FLAC) streams.");
}

// A song that ended, in a stream that can be recorded.
bool savable(const SongSpan &span)
{
    return span.finished() && span.format != StreamTap::Format::Unknown;
}
} // namespace

Recorder::Options Recorder::savedOptions()
{
    Options options;
    const auto s = settings::open();
    options.folder = s->value(QStringLiteral("recording/folder")).toString();
    options.keepPartial = s->value(QStringLiteral("recording/keepPartial"), true).toBool();
    const qint64 mb = s->value(QStringLiteral("recording/bufferMB"), 15).toLongLong();
    options.bufferBytes = qBound(qint64(1), mb, qint64(1024)) * 1'000'000;
    return options;
}

Recorder::Recorder(PlaybackSession *session, const Options &options, QObject *parent)
    : QObject(parent), m_session(session), m_options(options),
      m_buffer(std::make_shared<StreamBuffer>(options.bufferBytes)), m_audio(m_buffer),
      m_writer(std::make_unique<RecordingWriter>(this))
{
    connect(m_session, &PlaybackSession::stateChanged, this, &Recorder::sessionStateChanged);
    connect(m_session, &PlaybackSession::currentProgramChanged, this, [this] {
        stopRecording();
        // What the player kept of the last program is not this one's.
        m_forgotten = m_session->keptAudio();
        readFrom(nullptr);
        m_held.reset();
        m_buffer->clear();
        m_saveWhenEnds = -1;
        m_poll.stop();
    });
    // The listener opened a stream afresh: a recording does not run on
    // into it.
    connect(m_session, &PlaybackSession::opening, this, [this] {
        stopRecording();
        m_program = program::name(m_session->currentProgram());
    });
    connect(m_session, &PlaybackSession::keptAudioChanged, this, &Recorder::followKeptAudio);
    followKeptAudio();
    m_program = program::name(m_session->currentProgram());
    // Only while there is something to write: playing alone wakes nothing.
    m_poll.setObjectName(QStringLiteral("recorderPoll"));
    m_poll.setInterval(options.pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Recorder::pump);
    // What was kept before a pause goes once the two connections together
    // keep more than the buffer would.
    m_trim.setInterval(kTrimMs);
    connect(&m_trim, &QTimer::timeout, this, [this] {
        const auto joined = std::dynamic_pointer_cast<const JoinedAudio>(m_audio);
        if (!joined || !joined->trim())
            m_trim.stop();
    });
}

Recorder::~Recorder()
{
    stopRecording();
    m_session->setStreamTap(nullptr);
    // The last files are linked to the history too: what became of them is
    // taken now, not left queued for a recorder that is gone.
    m_closing = true;
    m_writer->finish();
}

void Recorder::followKeptAudio()
{
    std::shared_ptr<KeptAudio> kept = m_session->keptAudio();
    if (kept && kept == m_forgotten.lock())
        kept.reset();
    readFrom(kept);
}

void Recorder::readFrom(const std::shared_ptr<KeptAudio> &kept)
{
    // What the player keeps is not kept a second time.
    m_session->setStreamTap(kept ? nullptr : m_buffer);
    if (kept ? kept == m_keptGiven : m_audio == m_buffer)
        return;
    // What a connection of this program kept stays readable after a pause
    // let it go: the next connection's is read after it.
    if (m_audio != m_buffer)
        m_held = m_audio;
    std::shared_ptr<const KeptAudio> audio = m_buffer;
    if (kept) {
        m_buffer->clear();
        audio = kept;
        const auto joined = std::dynamic_pointer_cast<const JoinedAudio>(m_held);
        if (m_held && !(joined && joined->parts() >= kMaxJoined)) {
            audio = std::make_shared<JoinedAudio>(m_held, kept, m_options.bufferBytes);
            m_trim.start();
        }
        m_held.reset();
    }
    m_keptGiven = kept;
    // Offsets of another keeping: a file under way ends here, cut.
    if (m_file) {
        m_writer->append(m_file, m_audio->read(m_cursor, m_audio->endOffset()));
        closeFile(true);
    }
    m_fileSpan = -1;
    m_saveWhenEnds = -1;
    if (!m_recording)
        m_poll.stop();
    m_audio = audio;
    m_cursor = m_audio->endOffset();
}

void Recorder::sessionStateChanged()
{
    switch (m_session->state()) {
    case PlaybackSession::State::Loading: // reconnecting: the recording goes on
    case PlaybackSession::State::Playing: break;
    default: stopRecording(); break;
    }
}

void Recorder::setRecording(bool on)
{
    if (on == m_recording)
        return;
    if (!on) {
        stopRecording();
        return;
    }
    if (m_session->state() != PlaybackSession::State::Playing)
        return;
    m_failureTold = false;
    const qint64 end = m_audio->endOffset();
    const auto spans = songs(m_audio->startOffset(), end);
    if (!spans.isEmpty() && spans.last().format == StreamTap::Format::Unknown) {
        writeFailed(cannotRecord());
        return;
    }
    m_recording = true;
    m_skipping = false;
    m_fileSpan = -1;
    // From the beginning of the song on now when the buffer holds it, else
    // from what plays now: the newest piece that arrived (a station of a
    // low bit rate may send nothing more for seconds).
    m_cursor = end;
    if (!spans.isEmpty() && !spans.last().finished()) {
        const SongSpan &now = spans.last();
        m_cursor = now.whole ? now.from : qMax(now.from, m_audio->newestPieceStart());
    }
    NSLog(lcRecord(), QtInfoMsg, "recording %@", m_program);
    m_poll.start();
    Q_EMIT recordingChanged(true);
    pump();
}

void Recorder::stopRecording()
{
    if (!m_recording)
        return;
    if (m_file) {
        // What arrived up to now goes into the last file, which is cut.
        m_writer->append(m_file, m_audio->read(m_cursor, m_audio->endOffset()));
        closeFile(true);
    }
    m_recording = false;
    m_skipping = false;
    if (m_saveWhenEnds < 0)
        m_poll.stop();
    NSLog(lcRecord(), QtInfoMsg, "recording stopped");
    Q_EMIT recordingChanged(false);
}

void Recorder::pump()
{
    if (m_recording)
        writeRecording();
    if (m_saveWhenEnds >= 0) {
        const auto spans = songs();
        for (const SongSpan &span : spans) {
            if (span.began != m_saveWhenEnds || !span.finished())
                continue;
            if (cutAt(span.format, span.to) >= 0) {
                m_saveWhenEnds = -1;
                if (!m_recording)
                    m_poll.stop();
                saveSpan(span);
            }
        }
    }
}

void Recorder::writeRecording()
{
    if (RecordingWriter::hasFailed(m_file)) {
        writeFailed(QString());
        return;
    }
    if (m_writer->pendingBytes() > kMaxPendingBytes) {
        writeFailed(QStringLiteral("The disk does not keep up with the recording."));
        return;
    }
    for (int step = 0; step < 64 && m_recording; ++step) {
        const qint64 start = m_audio->startOffset();
        const qint64 end = m_audio->endOffset();
        if (m_cursor < start) {
            // Writing fell behind the buffer: what was lost leaves a gap.
            NSLog(lcRecord(), QtWarningMsg, "recording: %ld bytes lost", start - m_cursor);
            closeFile(true);
            m_fileSpan = -1;
            m_cursor = start;
        }
        const auto spans = songs(start, end);
        qsizetype index = -1;
        for (qsizetype i = 0; i < spans.size(); ++i) {
            const SongSpan &s = spans.at(i);
            if (s.from <= m_cursor && (!s.finished() || m_cursor < s.to))
                index = i;
        }
        if (index < 0 || m_cursor >= end)
            return;
        const SongSpan *span = &spans.at(index);
        if (m_fileSpan != span->began) {
            // A new song (or the first, or one after a loss). When what was
            // written ends right where the song changed, the frame across
            // the change is still the last song's.
            const bool endedHere = index > 0 && spans.at(index - 1).began == m_fileSpan &&
                                   spans.at(index - 1).to == m_cursor;
            if (endedHere && span->whole) {
                const qint64 cut = cutAt(span->format, m_cursor);
                if (cut < 0)
                    return;
                if (m_file)
                    m_writer->append(m_file, m_audio->read(m_cursor, cut));
                m_cursor = cut;
                closeFile(false);
            } else if (m_file || m_skipping) {
                closeFile(true);
            }
            m_fileSpan = -1;
            if (span->format == StreamTap::Format::Unknown) {
                writeFailed(cannotRecord());
                return;
            }
            const qint64 cut = cutAt(span->format, m_cursor);
            if (cut < 0)
                return;
            m_cursor = qMin(cut, span->finished() ? span->to : cut);
            openFile(*span);
            if (m_cursor >= end)
                return;
        }
        if (span->finished()) {
            // Ended at a title change: the frame across it is this song's.
            // Ended by a reconnect: the song was cut there.
            const bool changed = index + 1 < spans.size() && spans.at(index + 1).whole;
            const qint64 cut = changed ? cutAt(span->format, span->to) : span->to;
            if (cut < 0)
                return; // the next frame is not here yet
            if (m_file)
                m_writer->append(m_file, m_audio->read(m_cursor, cut));
            m_cursor = qMax(m_cursor, cut);
            closeFile(!changed);
            m_fileSpan = -1;
            continue;
        }
        // Still playing: write what is here; a long song or a station
        // without titles goes on in parts, a new file every splitMs, cut
        // where what was written ends (at the next frame or page).
        if (m_cursor > m_fileFrom &&
            m_fileAge.elapsed() >= Clock::shared()->scaled(m_options.splitMs)) {
            const qint64 cut = cutAt(span->format, m_cursor);
            if (cut < 0)
                return; // the next frame is not here yet
            if (m_file)
                m_writer->append(m_file, m_audio->read(m_cursor, cut));
            m_cursor = cut;
            const int part = qMax(m_filePart, 1);
            m_filePart = part;
            closeFile(false);
            openFile(*span, part + 1);
        }
        if (m_file)
            m_writer->append(m_file, m_audio->read(m_cursor, end));
        m_cursor = end;
        return;
    }
}

void Recorder::openFile(const SongSpan &span, int part)
{
    m_fileSpan = span.began;
    m_fileTitle = span.title;
    m_fileFormat = span.format;
    m_fileSongMs = span.startedMs;
    m_filePart = part;
    m_fileAge.start();
    if (part == 0) {
        // Begun at its title change (a frame's leftovers aside): the whole song.
        const bool whole = span.whole && m_cursor - span.from < kResyncWindow;
        m_filePartial = !whole;
        m_fileNameMs = whole ? span.startedMs : m_audio->wallMsAt(m_cursor);
        m_skipping = !whole && !m_options.keepPartial;
    } else {
        // The next part of the song: it goes on where the last part ended,
        // under the same time, kept or not as that part was.
        m_filePartial = false;
    }
    m_fileFrom = m_cursor; // past the stream's own headers once they are replaced
    if (m_skipping)
        return;
    m_fileName = recordingFileName(m_filePartial);
    const QByteArray header = headerFor(span, &m_cursor);
    m_fileFrom = m_cursor;
    m_file =
        m_writer->open(filenaming::programFolder(m_options.folder, m_program, m_options.folderDate),
                       m_fileName, header);
}

QString Recorder::recordingFileName(bool partial) const
{
    return filenaming::songFileName(fromMs(m_fileNameMs ? m_fileNameMs : m_fileSongMs),
                                    m_fileTitle.isEmpty() ? m_program : m_fileTitle, partial,
                                    filetags::extension(m_fileFormat), m_filePart);
}

void Recorder::closeFile(bool cutEnd)
{
    if (!m_file)
        return;
    const bool partial = m_filePartial || cutEnd;
    NSLog(lcRecord(), QtDebugMsg, "closing %@ part %d partial %d", m_fileTitle, m_filePart,
          int(partial));
    // Named when it was opened; cut at its end or split into parts, renamed.
    const QString name = recordingFileName(partial);
    const bool drop = partial && !m_options.keepPartial;
    // The file that holds the song's beginning is the one the history links.
    const qint64 started = m_filePart <= 1 ? m_fileSongMs : -1;
    m_writer->close(
        std::exchange(m_file, nullptr), name == m_fileName ? QString() : name, drop,
        [this, title = m_fileTitle, started](const QString &path, const QString &error) {
            fileDone(path, error, title, started, 0);
        });
}

void Recorder::fileDone(const QString &path, const QString &error, const QString &title,
                        qint64 startedMs, int save)
{
    if (save > 0)
        Q_EMIT songSaved(save, path, error);
    if (!error.isEmpty()) {
        if (!m_closing)
            writeFailed(error);
        return;
    }
    if (path.isEmpty())
        return;
    NSLog(lcRecord(), QtInfoMsg, "recorded %@", path);
    if (m_history && !title.isEmpty() && startedMs >= 0) {
        const QString clean = HistoryStore::cleanTitle(title);
        for (const auto &song : m_history->songs(QString(), false, 50)) {
            if (song.title == clean &&
                qAbs(song.started.toMSecsSinceEpoch() - startedMs) <= kHistoryMatchMs) {
                m_history->setFile(song.id, path);
                break;
            }
        }
    }
    Q_EMIT fileWritten(path);
}

void Recorder::writeFailed(const QString &error)
{
    const bool recording = m_recording;
    stopRecording();
    if (m_failureTold || (!recording && error.isEmpty()))
        return;
    m_failureTold = true;
    const QString message =
        error.isEmpty() ? QStringLiteral("The recording could not be written.") : error;
    NSLog(lcRecord(), QtWarningMsg, "recording stopped: %@", message);
    Q_EMIT failed(message);
}

qint64 Recorder::cutAt(StreamTap::Format format, qint64 offset) const
{
    if (format == StreamTap::Format::Ogg)
        return m_audio->pieceStartFrom(offset); // a page, or a chain's header pages
    if (format != StreamTap::Format::Mp3 && format != StreamTap::Format::Aac)
        return offset;
    const qint64 end = m_audio->endOffset();
    const QByteArray bytes = m_audio->read(offset, qMin(end, offset + kResyncWindow));
    const qsizetype at = audioframes::frameStart(format, bytes, 0);
    if (at >= 0)
        return offset + at;
    return end - offset >= kResyncWindow ? offset : -1;
}

QByteArray Recorder::headerFor(const SongSpan &span, qint64 *from) const
{
    const streamtitle::Parts parts = streamtitle::split(span.title);
    const QString date =
        fromMs(span.startedMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd"));
    switch (span.format) {
    case StreamTap::Format::Mp3:
        return filetags::id3v24Tag(parts.artist, parts.title, m_program, date);
    case StreamTap::Format::Ogg: {
        const KeptAudio::OggHeaders headers = m_audio->oggHeadersAt(*from);
        // The stream's own header pages are replaced by ours.
        *from = qMax(*from, headers.offset + headers.pagesSize);
        const QList<QByteArray> packets =
            oggpages::withComments(headers.packets, {{"ARTIST", parts.artist},
                                                     {"TITLE", parts.title},
                                                     {"ALBUM", m_program},
                                                     {"DATE", date}});
        return oggpages::headerPages(packets, headers.serial);
    }
    default: return {};
    }
}

QList<SongSpan> Recorder::songs(qint64 start, qint64 end) const
{
    QList<StreamMark> marks = m_audio->marks();
    for (StreamMark &mark : marks) {
        if (mark.kind == StreamMark::Kind::Chain && mark.title.isEmpty())
            mark.title = oggpages::titleFromComments(m_audio->oggHeadersAt(mark.offset).packets);
    }
    return songSpans(marks, start, end);
}

QString Recorder::fileNameFor(const SongSpan &span, qint64 from, bool partial) const
{
    const qint64 ms = partial ? m_audio->wallMsAt(from) : span.startedMs;
    return filenaming::songFileName(fromMs(ms ? ms : span.startedMs),
                                    span.title.isEmpty() ? m_program : span.title, partial,
                                    filetags::extension(span.format));
}

// Saving songs that already played.

bool Recorder::endedWhereHeard(const SongSpan &span) const
{
    const qint64 behind = m_session->behindLiveMs();
    if (behind <= 0)
        return true;
    const qint64 ended = m_audio->wallMsAt(span.to);
    const qint64 heard = Clock::shared()->currentDateTimeUtc().toMSecsSinceEpoch() - behind;
    return ended > 0 && ended <= heard;
}

bool Recorder::canSaveLastSong() const
{
    const auto spans = songs();
    return std::any_of(spans.begin(), spans.end(), [this](const SongSpan &span) {
        return savable(span) && endedWhereHeard(span);
    });
}

// The last song that ended at the play position.
int Recorder::saveLastSong()
{
    const auto spans = songs();
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        if (savable(*it) && endedWhereHeard(*it))
            return saveSpan(*it);
    }
    return 0;
}

bool Recorder::saveCurrentSong()
{
    const auto spans = songs();
    if (spans.isEmpty() || spans.last().finished() ||
        spans.last().format == StreamTap::Format::Unknown || !m_session->isPlaying())
        return false;
    m_saveWhenEnds = spans.last().began;
    m_poll.start();
    return true;
}

int Recorder::saveSpan(const SongSpan &span)
{
    // A song cut by a reconnect ends where the connection did.
    bool changed = false;
    for (const SongSpan &next : songs()) {
        if (next.from == span.to)
            changed = next.whole;
    }
    qint64 from = cutAt(span.format, span.from);
    qint64 to = changed ? cutAt(span.format, span.to) : span.to;
    if (from < 0 || from >= span.to)
        from = span.from;
    if (to < 0)
        to = span.to;
    const bool partial = !span.whole || !changed; // or cut by a reconnect
    const QString name = fileNameFor(span, from, partial);
    const QByteArray header = headerFor(span, &from);
    auto file = m_writer->open(
        filenaming::programFolder(m_options.folder, m_program, m_options.folderDate), name, header);
    m_writer->append(file, m_audio->read(from, to));
    const int save = ++m_lastSave;
    m_writer->close(file, QString(), false,
                    [this, title = span.title, started = span.startedMs,
                     save](const QString &path, const QString &error) {
                        fileDone(path, error, title, started, save);
                    });
    NSLog(lcRecord(), QtInfoMsg, "saving \"%@\" (%ld bytes)", span.title, to - from);
    return save;
}

std::optional<SongSpan> Recorder::spanOf(const HistoryStore::Song &song) const
{
    const auto spans = songs();
    std::optional<SongSpan> best;
    qint64 bestDistance = kHistoryMatchMs + 1;
    for (const SongSpan &span : spans) {
        if (!savable(span) || HistoryStore::cleanTitle(span.title) != song.title)
            continue;
        const qint64 distance = qAbs(span.startedMs - song.started.toMSecsSinceEpoch());
        if (distance < bestDistance) {
            best = span;
            bestDistance = distance;
        }
    }
    return best;
}

bool Recorder::canSave(const HistoryStore::Song &song) const
{
    return spanOf(song).has_value();
}

int Recorder::save(const HistoryStore::Song &song)
{
    const auto span = spanOf(song);
    return span ? saveSpan(*span) : 0;
}

#include "moc_Recorder.cpp"
