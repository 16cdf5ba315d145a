#pragma once

#include "platform/stream/StreamTap.h"

#include <QByteArray>

#include <functional>

// The audio an MPEG transport stream carries, as its elementary stream: the
// first audio stream its program map lists (ADTS AAC or MPEG audio), with
// the packets and PES headers around it taken off. This is what recording
// and time-shift keep of an HLS segment. Reads pieces of any size, in order; bytes that are
// no transport stream (fMP4) are started as Unknown and not handed on.
class TsAudio {
public:
    // Told once the program map names the audio, before its first bytes.
    std::function<void(StreamTap::Format)> started;
    std::function<void(const char *, qsizetype)> audio;

    // A new stream (`sameStream` false: started is told again), or the
    // same one going on after a discontinuity (told again only when its
    // audio is of another format).
    void reset(bool sameStream = false);
    void feed(const QByteArray &bytes);
    // The format told last; Unknown before the program map named one.
    StreamTap::Format format() const { return m_told; }

private:
    void packet(const uchar *p);
    void table(const uchar *p, int size, bool unitStart, int pid);

    QByteArray m_partial; // the start of a packet cut by the piece's end
    bool m_synced = false;
    bool m_inStep = false; // the last packet ended where this one begins
    int m_pmtPid = -1;
    int m_audioPid = -1;
    int m_pesSkip = 0; // header bytes of the current PES still to skip
    bool m_inPes = false;
    bool m_toldNone = false;
    StreamTap::Format m_told = StreamTap::Format::Unknown;
};
