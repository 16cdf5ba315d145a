#pragma once

#include <QString>

// What a stream is, technically: its codec, bitrate and sample rate, as far
// as they are known (unknown values are empty or 0).
struct StreamFormat {
    QString codec;      // as GStreamer names it, e.g. "MPEG-1 Layer 3 (MP3)"
    int bitrate = 0;    // bits per second
    int sampleRate = 0; // Hz

    bool operator==(const StreamFormat &) const = default;
    bool isEmpty() const { return codec.isEmpty() && bitrate <= 0 && sampleRate <= 0; }

    // For people: "MP3 · 128 kbit/s · 44.1 kHz", leaving out what is not
    // known; empty when nothing is.
    QString text() const;
    // The short name of a codec GStreamer describes: "MP3" for "MPEG-1
    // Layer 3 (MP3)", "AAC" for "MPEG-4 AAC"; other names as they are.
    static QString shortCodecName(const QString &description);
};
