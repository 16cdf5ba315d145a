#include "platform/stream/FrameByteRate.h"

namespace {

constexpr double kMinSeconds = 1;

// MPEG audio layer III: kbit/s by version (1; 2 and 2.5) and index.
constexpr int kMp3Kbps[2][16] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
constexpr int kMp3Rates[3] = {44100, 48000, 32000}; // MPEG-1; halved for 2, quartered for 2.5
constexpr int kAdtsRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                22050, 16000, 12000, 11025, 8000,  7350};

} // namespace

FrameByteRate::Frame FrameByteRate::frameAt(const uchar *h) const
{
    if (h[0] != 0xFF)
        return {};
    if (m_codec == Codec::Aac) {
        // Sync word, layer 0; the rate index; the length, header included.
        if ((h[1] & 0xF6) != 0xF0)
            return {};
        const int rateIndex = (h[2] >> 2) & 0x0F;
        const qint64 size = qint64(h[3] & 0x03) << 11 | qint64(h[4]) << 3 | h[5] >> 5;
        if (rateIndex >= 13 || size < 7)
            return {};
        const int blocks = (h[6] & 0x03) + 1;
        return {size, double(1024 * blocks) / kAdtsRates[rateIndex]};
    }
    // Sync, a version that exists, layer III.
    const int version = (h[1] >> 3) & 0x03; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    if ((h[1] & 0xE0) != 0xE0 || version == 1 || ((h[1] >> 1) & 0x03) != 1)
        return {};
    const int kbps = kMp3Kbps[version == 3 ? 0 : 1][h[2] >> 4];
    const int rateIndex = (h[2] >> 2) & 0x03;
    if (kbps == 0 || rateIndex == 3)
        return {};
    const int rate = kMp3Rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int samples = version == 3 ? 1152 : 576;
    const qint64 size = qint64(samples / 8) * kbps * 1000 / rate + ((h[2] >> 1) & 0x01);
    return {size, double(samples) / rate};
}

void FrameByteRate::append(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype at = 0;
    while (at < size) {
        if (m_skip > 0) {
            const qint64 n = qMin<qint64>(m_skip, size - at);
            m_skip -= n;
            at += qsizetype(n);
            continue;
        }
        // Each byte enters the header once and leaves it once.
        const qsizetype n = qMin(headerSize() - m_header.size(), size - at);
        m_header.append(data + at, n);
        at += n;
        if (m_header.size() < headerSize())
            break;
        const Frame frame = frameAt(reinterpret_cast<const uchar *>(m_header.constData()));
        if (frame.size < headerSize()) {
            m_last = {}; // out of step: found again at a header
            m_header.remove(0, 1);
            continue;
        }
        if (m_last.size > 0) {
            m_bytes += m_last.size;
            m_seconds += m_last.seconds;
        }
        m_last = frame;
        m_skip = frame.size - headerSize();
        m_header.clear();
    }
}

void FrameByteRate::restart()
{
    m_header.clear();
    m_skip = 0;
    m_last = {};
}

double FrameByteRate::byteRate() const
{
    return m_seconds >= kMinSeconds ? double(m_bytes) / m_seconds : 0.0;
}
