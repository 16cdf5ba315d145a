#include "platform/stream/JoinedAudio.h"

JoinedAudio::JoinedAudio(std::shared_ptr<const KeptAudio> earlier,
                         std::shared_ptr<const KeptAudio> later, qint64 capacity)
    : m_earlier(std::move(earlier)), m_later(std::move(later)), m_capacity(capacity),
      m_laterBase(m_later->startOffset()), m_shift(m_earlier->endOffset() - m_laterBase)
{
    trim();
}

bool JoinedAudio::trim() const
{
    if (!m_earlier)
        return false;
    const qint64 held = m_earlier->endOffset() - m_earlier->startOffset() + m_later->endOffset() -
                        m_later->startOffset();
    if (held > m_capacity || m_later->startOffset() > m_laterBase)
        m_earlier.reset();
    return m_earlier != nullptr;
}

int JoinedAudio::parts() const
{
    const KeptAudio *before = earlier();
    if (!before)
        return 1;
    const auto *joined = dynamic_cast<const JoinedAudio *>(before);
    return (joined ? joined->parts() : 1) + 1;
}

const KeptAudio *JoinedAudio::earlier() const
{
    return trim() ? m_earlier.get() : nullptr;
}

qint64 JoinedAudio::startOffset() const
{
    if (const KeptAudio *before = earlier())
        return before->startOffset();
    return m_later->startOffset() + m_shift;
}

qint64 JoinedAudio::endOffset() const
{
    return m_later->endOffset() + m_shift;
}

qint64 JoinedAudio::newestPieceStart() const
{
    return m_later->newestPieceStart() + m_shift;
}

qint64 JoinedAudio::pieceStartFrom(qint64 offset) const
{
    if (const KeptAudio *before = earlier(); before && offset < joint()) {
        const qint64 start = before->pieceStartFrom(offset);
        if (start < joint())
            return start;
        offset = joint();
    }
    return m_later->pieceStartFrom(offset - m_shift) + m_shift;
}

QByteArray JoinedAudio::read(qint64 from, qint64 to) const
{
    QByteArray bytes;
    if (const KeptAudio *before = earlier(); before && from < joint())
        bytes = before->read(from, qMin(to, joint()));
    if (to > joint())
        bytes += m_later->read(qMax(from, joint()) - m_shift, to - m_shift);
    return bytes;
}

qint64 JoinedAudio::wallMsAt(qint64 offset) const
{
    if (offset < joint()) {
        const KeptAudio *before = earlier();
        return before ? before->wallMsAt(offset) : 0;
    }
    return m_later->wallMsAt(offset - m_shift);
}

QList<StreamMark> JoinedAudio::marks() const
{
    QList<StreamMark> marks;
    if (const KeptAudio *before = earlier())
        marks = before->marks();
    for (StreamMark mark : m_later->marks()) {
        mark.offset += m_shift;
        marks << mark;
    }
    return marks;
}

KeptAudio::OggHeaders JoinedAudio::oggHeadersAt(qint64 offset) const
{
    if (offset < joint()) {
        const KeptAudio *before = earlier();
        return before ? before->oggHeadersAt(offset) : OggHeaders{};
    }
    OggHeaders headers = m_later->oggHeadersAt(offset - m_shift);
    if (headers.offset >= 0)
        headers.offset += m_shift;
    return headers;
}
