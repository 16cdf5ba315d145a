#pragma once

#include "platform/stream/KeptAudio.h"

#include <memory>

// The audio one program kept before a pause let its connection go, followed
// by what the connection after it keeps, read as one: songs heard before the
// pause can still be saved once it plays again. The offsets of the earlier
// part stay as they were and the later part's follow on from its end; the
// later part's first mark (its connection) stands between them. The earlier
// part is let go as soon as the two hold more than `capacity` bytes
// together, so what they keep is bounded as one buffer is.
class JoinedAudio : public KeptAudio {
public:
    JoinedAudio(std::shared_ptr<const KeptAudio> earlier, std::shared_ptr<const KeptAudio> later,
                qint64 capacity);

    // Lets the earlier part go once the two hold more than the capacity;
    // true while it is still held.
    bool trim() const;
    // The connections joined here that are still held.
    int parts() const;

    qint64 startOffset() const override;
    qint64 endOffset() const override;
    qint64 newestPieceStart() const override;
    qint64 pieceStartFrom(qint64 offset) const override;
    QByteArray read(qint64 from, qint64 to) const override;
    qint64 wallMsAt(qint64 offset) const override;
    QList<StreamMark> marks() const override;
    OggHeaders oggHeadersAt(qint64 offset) const override;

private:
    // Where the later part begins, in the joined offsets.
    qint64 joint() const { return m_shift + m_laterBase; }
    const KeptAudio *earlier() const;

    mutable std::shared_ptr<const KeptAudio> m_earlier;
    std::shared_ptr<const KeptAudio> m_later;
    qint64 m_capacity;
    qint64 m_laterBase; // the later part's first offset when joined
    qint64 m_shift;     // joined offset = the later part's + this
};
