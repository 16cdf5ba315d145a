#include "record/Recorder.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "platform/base/Settings.h"
#include "platform/media/StreamTitle.h"
#include "record/AudioFrames.h"
#include "record/FileNaming.h"
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
// A history song and a title change in the buffer are the same song when
// they began this close together.
constexpr qint64 kHistoryMatchMs = 30 * 1000;

QDateTime fromMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
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
      m_buffer(std::make_shared<StreamBuffer>(options.bufferBytes)),
      m_writer(std::make_unique<RecordingWriter>(this))
{
    m_session->setStreamTap(m_buffer);
    connect(m_session, &PlaybackSession::stateChanged, this, &Recorder::sessionStateChanged);
    connect(m_session, &PlaybackSession::currentProgramChanged, this, [this] {
        stopRecording();
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
    m_program = program::name(m_session->currentProgram());
    // Only while there is something to write: playing alone wakes nothing.
    m_poll.setInterval(options.pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Recorder::pump);
}

Recorder::~Recorder()
{
    stopRecording();
    m_session->setStreamTap(nullptr);
    m_writer.reset(); // waits for the writes
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
    m_recording = true;
    m_skipping = false;
    m_fileSpan = -1;
    // From the beginning of the song on now when the buffer holds it.
    const qint64 end = m_buffer->endOffset();
    const auto spans = songSpans(m_buffer->marks(), m_buffer->startOffset(), end);
    m_cursor = end;
    if (!spans.isEmpty() && !spans.last().finished() && spans.last().whole)
        m_cursor = spans.last().from;
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
        m_writer->append(m_file, m_buffer->read(m_cursor, m_buffer->endOffset()));
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
        const auto spans =
            songSpans(m_buffer->marks(), m_buffer->startOffset(), m_buffer->endOffset());
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
        const qint64 start = m_buffer->startOffset();
        const qint64 end = m_buffer->endOffset();
        if (m_cursor < start) {
            // Writing fell behind the buffer: what was lost leaves a gap.
            NSLog(lcRecord(), QtWarningMsg, "recording: %ld bytes lost", start - m_cursor);
            closeFile(true);
            m_fileSpan = -1;
            m_cursor = start;
        }
        const auto spans = songSpans(m_buffer->marks(), start, end);
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
                    m_writer->append(m_file, m_buffer->read(m_cursor, cut));
                m_cursor = cut;
                closeFile(m_filePartial);
            } else if (m_file || m_skipping) {
                closeFile(true);
            }
            m_fileSpan = -1;
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
                m_writer->append(m_file, m_buffer->read(m_cursor, cut));
            m_cursor = qMax(m_cursor, cut);
            closeFile(changed ? m_filePartial : true);
            m_fileSpan = -1;
            continue;
        }
        // Still playing: write what is here; a long song or a station
        // without titles goes on in a new file every splitMs.
        if (m_fileAge.isValid() &&
            m_fileAge.elapsed() >= Clock::shared()->scaled(m_options.splitMs)) {
            const qint64 cut = cutAt(span->format, qMax(m_cursor, end - 8192));
            if (cut >= 0 && cut < end) {
                if (m_file)
                    m_writer->append(m_file, m_buffer->read(m_cursor, cut));
                closeFile(m_filePartial);
                m_cursor = cut;
                SongSpan next = *span;
                next.startedMs = m_buffer->wallMsAt(cut);
                openFile(next);
                m_filePartial = true; // begins inside the song
            }
        }
        if (m_file)
            m_writer->append(m_file, m_buffer->read(m_cursor, end));
        m_cursor = end;
        return;
    }
}

void Recorder::openFile(const SongSpan &span)
{
    m_fileSpan = span.began;
    m_fileTitle = span.title;
    // Begun at its title change (a frame's leftovers aside): the whole song.
    const bool whole = span.whole && m_cursor - span.from < kResyncWindow;
    m_filePartial = !whole;
    m_fileStartedMs = whole ? span.startedMs : m_buffer->wallMsAt(m_cursor);
    m_fileAge.start();
    m_skipping = !whole && !m_options.keepPartial;
    if (m_skipping)
        return;
    const QString name = fileNameFor(span, m_cursor, !whole);
    const QByteArray header = headerFor(span, &m_cursor);
    m_file = m_writer->open(filenaming::programFolder(m_options.folder, m_program), name, header);
}

void Recorder::closeFile(bool partial)
{
    m_skipping = false;
    if (!m_file)
        return;
    const QString title = m_fileTitle;
    const qint64 started = m_fileStartedMs;
    NSLog(lcRecord(), QtDebugMsg, "closing %@ partial %d marked %d", title, int(partial),
          int(m_filePartial));
    const bool drop = partial && !m_options.keepPartial;
    // A file marked when it was opened keeps its name.
    m_writer->close(std::exchange(m_file, nullptr), partial && !m_filePartial, drop,
                    [this, title, started](const QString &path, const QString &error) {
                        fileDone(path, error, title, started);
                    });
}

void Recorder::fileDone(const QString &path, const QString &error, const QString &title,
                        qint64 startedMs)
{
    if (!error.isEmpty()) {
        writeFailed(error);
        return;
    }
    if (path.isEmpty())
        return;
    NSLog(lcRecord(), QtInfoMsg, "recorded %@", path);
    if (m_history && !title.isEmpty()) {
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
    if (format != StreamTap::Format::Mp3 && format != StreamTap::Format::Aac)
        return offset; // Ogg is held in whole pages
    const qint64 end = m_buffer->endOffset();
    const QByteArray bytes = m_buffer->read(offset, qMin(end, offset + kResyncWindow));
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
        return audioframes::id3v24Tag(parts.artist, parts.title, m_program, date);
    case StreamTap::Format::Ogg: {
        const StreamBuffer::OggHeaders headers = m_buffer->oggHeadersAt(*from);
        if (headers.packets.size() < 2) {
            // Not all seen: the stream's own pages, or nothing if it starts here.
            return headers.offset == *from ? QByteArray() : headers.pages;
        }
        if (headers.offset == *from)
            *from += headers.pages.size(); // replaced by ours
        QList<QByteArray> packets = headers.packets;
        packets[1] = oggpages::withComments(packets.at(1), {{"ARTIST", parts.artist},
                                                            {"TITLE", parts.title},
                                                            {"ALBUM", m_program},
                                                            {"DATE", date}});
        return oggpages::headerPages(packets, oggpages::serialOf(headers.pages));
    }
    default: return {};
    }
}

QString Recorder::fileNameFor(const SongSpan &span, qint64 from, bool partial) const
{
    const qint64 ms = partial ? m_buffer->wallMsAt(from) : span.startedMs;
    return filenaming::songFileName(fromMs(ms ? ms : span.startedMs),
                                    span.title.isEmpty() ? m_program : span.title, partial,
                                    audioframes::extension(span.format));
}

bool Recorder::canSaveLastSong() const
{
    const auto spans = songSpans(m_buffer->marks(), m_buffer->startOffset(), m_buffer->endOffset());
    for (const SongSpan &span : spans) {
        if (span.finished())
            return true;
    }
    return false;
}

bool Recorder::saveLastSong()
{
    const auto spans = songSpans(m_buffer->marks(), m_buffer->startOffset(), m_buffer->endOffset());
    for (auto it = spans.rbegin(); it != spans.rend(); ++it) {
        if (it->finished())
            return saveSpan(*it);
    }
    return false;
}

bool Recorder::saveCurrentSong()
{
    const auto spans = songSpans(m_buffer->marks(), m_buffer->startOffset(), m_buffer->endOffset());
    if (spans.isEmpty() || spans.last().finished() || !m_session->isPlaying())
        return false;
    m_saveWhenEnds = spans.last().began;
    m_poll.start();
    return true;
}

bool Recorder::saveSpan(const SongSpan &span)
{
    // A song cut by a reconnect ends where the connection did.
    bool changed = false;
    for (const SongSpan &next :
         songSpans(m_buffer->marks(), m_buffer->startOffset(), m_buffer->endOffset())) {
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
    auto file =
        m_writer->open(filenaming::programFolder(m_options.folder, m_program), name, header);
    m_writer->append(file, m_buffer->read(from, to));
    m_writer->close(file, false, false,
                    [this, title = span.title, started = span.startedMs](const QString &path,
                                                                         const QString &error) {
                        fileDone(path, error, title, started);
                    });
    NSLog(lcRecord(), QtInfoMsg, "saving \"%@\" (%ld bytes)", span.title, to - from);
    return true;
}

std::optional<SongSpan> Recorder::spanOf(const HistoryStore::Song &song) const
{
    const auto spans = songSpans(m_buffer->marks(), m_buffer->startOffset(), m_buffer->endOffset());
    std::optional<SongSpan> best;
    qint64 bestDistance = kHistoryMatchMs + 1;
    for (const SongSpan &span : spans) {
        if (!span.finished() || HistoryStore::cleanTitle(span.title) != song.title)
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

bool Recorder::save(const HistoryStore::Song &song)
{
    const auto span = spanOf(song);
    return span && saveSpan(*span);
}

#include "moc_Recorder.cpp"
