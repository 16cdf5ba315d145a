#pragma once

#include "platform/stream/Adts.h"
#include "platform/stream/StreamTap.h"

#include <QByteArray>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

// The audio of fragmented MP4 (HLS's fMP4 segments), read a whole segment at
// a time: an init segment (ftyp, moov), fragments (moof, mdat) or both. What
// it gives is the first audio track's samples as an elementary stream: AAC,
// each sample behind an ADTS header made from the moov's
// AudioSpecificConfig, or MPEG audio as it is. That is what recording keeps
// and what the timeline holds: a decoder can start on it at any byte, where
// fMP4 would need its init segment in front and a demuxer that forgets the
// fragments it read before. Every box is read within its parent and the
// segment; what does not fit is left out.
class Fmp4Audio {
public:
    // Told once the moov names the audio (Unknown: none that this reads),
    // before its first bytes.
    std::function<void(StreamTap::Format)> started;
    std::function<void(const char *, qsizetype)> audio;

    // Whether `segment` begins as fMP4 does, not as a transport stream.
    static bool looksLike(const QByteArray &segment);

    // As TsAudio::reset.
    void reset(bool sameStream = false);
    // One segment; its audio, also handed to `audio`.
    QByteArray feed(const QByteArray &segment);
    // The audio the last moov named.
    StreamTap::Format format() const { return m_track.format; }

private:
    struct Track {
        quint32 id = 0;
        quint32 defaultSize = 0; // trex
        StreamTap::Format format = StreamTap::Format::Unknown;
        adts::Header adts{}; // AAC's frames are given this header
    };
    void readMoov(const uchar *p, qsizetype size);
    static void readEsds(const uchar *p, qsizetype size, Track *track);
    // One segment's samples as they are taken: each within an mdat's data
    // ([begin, end) from the segment's start, in order) and after the last.
    struct Samples {
        const uchar *segment = nullptr;
        qsizetype segmentSize = 0;
        std::vector<std::pair<qint64, qint64>> mdats;
        qint64 taken = 0; // where the last sample taken ended
        bool take(qint64 at, qint64 size);
    };
    void readMoof(const uchar *moof, const uchar *body, qsizetype size, Samples *samples,
                  QByteArray *out) const;
    void sample(const uchar *p, qsizetype size, QByteArray *out) const;

    Track m_track;
    bool m_toldNone = false;
    StreamTap::Format m_told = StreamTap::Format::Unknown;
};
