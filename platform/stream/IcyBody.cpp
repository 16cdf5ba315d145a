#include "platform/stream/IcyBody.h"

#include "platform/stream/StreamTitle.h"

#include <utility>

void IcyBody::reset(bool chunked, qint64 metaInterval)
{
    m_chunked = chunked;
    m_chunkState = ChunkState::Size;
    m_sizeLine.clear();
    m_chunkLeft = 0;
    m_metaInterval = metaInterval;
    m_audioLeft = metaInterval;
    m_metaLeft = -1;
    m_meta.clear();
    m_pending.clear();
}

bool IcyBody::feed(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (!m_chunked) {
            unchunked(data, left);
            break;
        }
        switch (m_chunkState) {
        case ChunkState::Size:
        case ChunkState::DataEnd: {
            const char c = *data++;
            --left;
            if (c != '\n') {
                if (m_chunkState == ChunkState::Size)
                    m_sizeLine += c;
                if (m_sizeLine.size() > 64)
                    return false;
                break;
            }
            if (m_chunkState == ChunkState::DataEnd) {
                m_chunkState = ChunkState::Size;
                break;
            }
            bool ok = false;
            m_chunkLeft = m_sizeLine.split(';').first().trimmed().toLongLong(&ok, 16);
            m_sizeLine.clear();
            if (!ok || m_chunkLeft < 0)
                return false;
            m_chunkState = m_chunkLeft == 0 ? ChunkState::Done : ChunkState::Data;
            break;
        }
        case ChunkState::Data: {
            const qsizetype n = qsizetype(qMin<qint64>(m_chunkLeft, left));
            unchunked(data, n);
            data += n;
            left -= n;
            m_chunkLeft -= n;
            if (m_chunkLeft == 0)
                m_chunkState = ChunkState::DataEnd;
            break;
        }
        case ChunkState::Done: left = 0; break;
        }
    }
    if (!m_pending.isEmpty() && audio)
        audio(std::exchange(m_pending, QByteArray()));
    return true;
}

void IcyBody::unchunked(const char *data, qsizetype size)
{
    if (m_metaInterval <= 0) {
        m_pending.append(data, size);
        return;
    }
    while (size > 0) {
        if (m_audioLeft > 0) {
            const qsizetype n = qsizetype(qMin<qint64>(m_audioLeft, size));
            m_pending.append(data, n);
            m_audioLeft -= n;
            data += n;
            size -= n;
        } else if (m_metaLeft < 0) {
            m_metaLeft = qint64(uchar(*data++)) * 16;
            --size;
            if (m_metaLeft == 0) {
                m_metaLeft = -1;
                m_audioLeft = m_metaInterval;
            }
        } else {
            const qsizetype n = qsizetype(qMin<qint64>(m_metaLeft, size));
            m_meta.append(data, n);
            m_metaLeft -= n;
            data += n;
            size -= n;
            if (m_metaLeft > 0)
                continue;
            // The title goes between the audio before the block and after it.
            if (!m_pending.isEmpty() && audio)
                audio(std::exchange(m_pending, QByteArray()));
            const QString announced = streamtitle::fromIcyMetadata(m_meta);
            if (!announced.isEmpty() && title)
                title(announced);
            m_meta.clear();
            m_metaLeft = -1;
            m_audioLeft = m_metaInterval;
        }
    }
}
