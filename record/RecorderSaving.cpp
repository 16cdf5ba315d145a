#include "record/Recorder.h"

#include "platform/base/Log.h"
#include "record/FileNaming.h"
#include "session/PlaybackSession.h"

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
