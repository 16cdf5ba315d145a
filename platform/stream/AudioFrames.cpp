#include "platform/stream/AudioFrames.h"

namespace audioframes {

namespace {

// kbit/s by [MPEG-1 ? 0 : 1][layer 1..3 - 1][index]
constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}}};
constexpr int kRates[3] = {44100, 48000, 32000};

constexpr int kAdtsRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

Frame mp3Frame(const uchar *h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return {};
    const int version = (h[1] >> 3) & 3;     // 0: 2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
    const int layer = 4 - ((h[1] >> 1) & 3); // 4 means reserved
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15)
        return {};
    const bool mpeg1 = version == 3;
    const int bitrate = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 1)
        return {(12 * bitrate / rate + padding) * 4, 384.0 / rate};
    const bool half = layer == 3 && !mpeg1; // 576 samples a frame
    return {(half ? 72 : 144) * bitrate / rate + padding, (half ? 576.0 : 1152.0) / rate};
}

Frame adtsFrame(const uchar *h)
{
    const int rateIndex = (h[2] >> 2) & 0xF;
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0 || rateIndex > 12)
        return {};
    const qsizetype length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    const int blocks = (h[6] & 3) + 1;
    return length >= 7 ? Frame{length, 1024.0 * blocks / kAdtsRates[rateIndex]} : Frame{};
}

} // namespace

Frame frameAt(StreamTap::Format format, const uchar *data, qsizetype size)
{
    switch (format) {
    case StreamTap::Format::Mp3: return size >= 4 ? mp3Frame(data) : Frame{};
    case StreamTap::Format::Aac: return size >= 7 ? adtsFrame(data) : Frame{};
    default: return {};
    }
}

qsizetype frameLength(StreamTap::Format format, const uchar *data, qsizetype size)
{
    return frameAt(format, data, size).length;
}

qsizetype frameStart(StreamTap::Format format, const QByteArray &bytes, qsizetype from)
{
    if (format != StreamTap::Format::Mp3 && format != StreamTap::Format::Aac)
        return from;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = qMax<qsizetype>(from, 0); i + 7 <= size; ++i) {
        const qsizetype length = frameLength(format, data + i, size - i);
        if (length == 0)
            continue;
        if (i + length + 7 > size)
            return -1; // the next header is not here yet
        if (frameLength(format, data + i + length, size - i - length) > 0)
            return i;
    }
    return -1;
}

} // namespace audioframes
