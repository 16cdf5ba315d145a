#pragma once

#include "platform/media/StreamTap.h"

#include <QByteArray>

#include <deque>
#include <functional>

// The audio of fragmented MP4 (HLS's fMP4 segments), read a whole segment at
// a time: an init segment (ftyp, moov), fragments (moof, mdat) or both. What
// recording keeps of it is the first audio track's samples as an elementary
// stream: AAC, each sample behind an ADTS header made from the moov's
// AudioSpecificConfig, or MPEG audio as it is. Every box is read within its
// parent and the segment; what does not fit is left out.
//
// For playback from the timeline it also keeps where each fragment begins
// there, with the init segment it needs in front (see seekPoint), and
// renumbers the fragments' decode times so that they go on from the
// fragment before: the decoder sees one stream across discontinuities,
// reconnects and loops, as the timeline plays them.
class Fmp4Audio {
public:
    // Told once the moov names the audio, before its first bytes.
    std::function<void(StreamTap::Format)> started;
    std::function<void(const char *, qsizetype)> audio;

    // Whether `segment` begins as fMP4 does, not as a transport stream.
    static bool looksLike(const QByteArray &segment);

    // As TsAudio::reset; the fragments kept and the decode time go on.
    void reset(bool sameStream = false);
    // One segment, appended to the timeline at `offset`. Its decode times
    // are rewritten in place.
    void feed(QByteArray *segment, qint64 offset);

    // Where playback from `offset` starts: the start of the fragment that
    // holds it (or of the first one after it), and in `init` the init
    // segment to hand the decoder first. `offset` and nothing when no
    // fragment is known there.
    qint64 seekPoint(qint64 offset, QByteArray *init) const;
    // Fragments before `offset` (the oldest byte kept) are not played from.
    void forgetBefore(qint64 offset);

private:
    struct Track {
        quint32 id = 0;
        quint32 defaultDuration = 0; // trex
        quint32 defaultSize = 0;
        StreamTap::Format format = StreamTap::Format::Unknown;
        int profile = 0; // ADTS: the audio object type less one
        int rateIndex = 0;
        int channels = 0;
    };
    struct Fragment {
        qint64 offset;
        QByteArray init;
    };
    void readMoov(uchar *p, qsizetype size);
    static void readEsds(const uchar *p, qsizetype size, Track *track);
    void readMoof(const uchar *moof, uchar *body, qsizetype size, const uchar *segment,
                  qsizetype segmentSize, QByteArray *out);
    void sample(const uchar *p, qsizetype size, QByteArray *out) const;

    Track m_track;
    QByteArray m_init;
    std::deque<Fragment> m_fragments;
    qint64 m_end = 0; // of the last segment
    bool m_haveTime = false;
    quint64 m_nextTime = 0; // the decode time the next fragment gets
    bool m_toldNone = false;
    StreamTap::Format m_told = StreamTap::Format::Unknown;
};
