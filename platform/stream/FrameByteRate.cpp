#include "platform/stream/FrameByteRate.h"

#include "platform/stream/AudioFrames.h"

namespace {

constexpr double kMinSeconds = 1;

} // namespace

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
        const audioframes::Frame frame = audioframes::frameAt(
            m_codec == Codec::Aac ? StreamTap::Format::Aac : StreamTap::Format::Mp3,
            reinterpret_cast<const uchar *>(m_header.constData()), m_header.size());
        if (frame.length < headerSize()) {
            m_last = {}; // out of step: found again at a header
            m_header.remove(0, 1);
            continue;
        }
        if (m_last.size > 0) {
            m_bytes += m_last.size;
            m_seconds += m_last.seconds;
        }
        m_last = {frame.length, frame.seconds};
        m_skip = frame.length - headerSize();
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
