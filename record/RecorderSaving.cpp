#include "record/Recorder.h"

#include "platform/base/Clock.h"
#include "platform/base/Log.h"
#include "record/FileNaming.h"
#include "session/PlaybackSession.h"

namespace {
// A song that ended, in a stream that can be recorded.
bool savable(const SongSpan &span)
{
    return span.finished() && span.format != StreamTap::Format::Unknown;
}
} // namespace

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
