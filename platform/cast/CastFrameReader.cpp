#include "platform/cast/CastFrameReader.h"

#include <QtEndian>

#include <algorithm>

namespace {
constexpr qsizetype kLength = 4;
}

qsizetype CastFrameReader::room() const
{
    return m_refused ? 0 : kLength + CastMessage::kMaxFrame - m_buffer.size();
}

qsizetype CastFrameReader::feed(const char *bytes, qsizetype size)
{
    const qsizetype taken = std::min(size, room());
    m_buffer.append(bytes, taken);
    return taken;
}

CastFrameReader::Result CastFrameReader::next(CastMessage *out)
{
    if (m_refused)
        return Result::TooLarge;
    if (m_buffer.size() < kLength)
        return Result::NeedMore;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
    if (length > quint32(CastMessage::kMaxFrame)) {
        m_refused = true;
        m_buffer.clear();
        return Result::TooLarge;
    }
    if (m_buffer.size() < kLength + qsizetype(length))
        return Result::NeedMore;
    std::optional<CastMessage> message =
        CastMessage::decode(QByteArrayView(m_buffer).sliced(kLength, length));
    m_buffer.remove(0, kLength + length);
    if (!message)
        return Result::Malformed;
    *out = std::move(*message);
    return Result::Message;
}
