#include "record/SongSpans.h"

QList<SongSpan> songSpans(const QList<StreamMark> &marks, qint64 startOffset, qint64 endOffset)
{
    QList<SongSpan> spans;
    bool joined = false; // the song on when the stream was joined has no title yet
    auto begin = [&](const StreamMark &m, bool whole) {
        if (!spans.isEmpty())
            spans.last().to = m.offset;
        spans.append(SongSpan{m.offset, -1, m.offset, m.title, m.wallMs, whole, m.format});
    };
    for (const StreamMark &m : marks) {
        if (m.kind == StreamMark::Kind::Start) {
            begin(m, false);
            joined = true;
        } else if (spans.isEmpty()) {
            begin(m, m.beginsSong); // whole if it began at a title change held
        } else if (joined) {
            spans.last().title = m.title;
            spans.last().format = m.format;
            joined = false;
        } else if (m.kind == StreamMark::Kind::Chain || m.title != spans.last().title) {
            begin(m, true);
        }
    }
    QList<SongSpan> held;
    for (SongSpan span : spans) {
        if (span.finished() && span.to <= startOffset)
            continue;
        if (span.from >= endOffset && span.finished())
            continue;
        if (span.from < startOffset) {
            span.from = startOffset;
            span.whole = false;
        }
        if (span.finished() && span.to == span.from)
            continue;
        held.append(span);
    }
    return held;
}
