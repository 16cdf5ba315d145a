#include "platform/cast/CastMessage.h"

#include <QtEndian>

namespace {
enum Field : quint32 {
    FieldProtocolVersion = 1,
    FieldSourceId = 2,
    FieldDestinationId = 3,
    FieldNamespace = 4,
    FieldPayloadType = 5,
    FieldPayloadUtf8 = 6,
    FieldPayloadBinary = 7,
};
enum Wire : quint32 { Varint = 0, Fixed64 = 1, Bytes = 2, Fixed32 = 5 };

void putVarint(QByteArray &out, quint64 value)
{
    while (value >= 0x80) {
        out.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

void putBytes(QByteArray &out, quint32 field, QByteArrayView bytes)
{
    putVarint(out, (field << 3) | Bytes);
    putVarint(out, quint64(bytes.size()));
    out.append(bytes);
}

class Reader {
public:
    explicit Reader(QByteArrayView bytes) : m_bytes(bytes) {}
    bool atEnd() const { return m_at == m_bytes.size(); }

    // At most ten bytes, the tenth holding the 64th bit only.
    std::optional<quint64> varint()
    {
        quint64 value = 0;
        for (int i = 0; i < 10; ++i) {
            if (m_at == m_bytes.size())
                return std::nullopt;
            const auto byte = quint8(m_bytes[m_at++]);
            if (i == 9 && byte > 1)
                return std::nullopt;
            value |= quint64(byte & 0x7f) << (7 * i);
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    std::optional<QByteArrayView> bytes()
    {
        const std::optional<quint64> size = varint();
        if (!size || *size > quint64(m_bytes.size() - m_at))
            return std::nullopt;
        const QByteArrayView part = m_bytes.sliced(m_at, qsizetype(*size));
        m_at += qsizetype(*size);
        return part;
    }

    bool skip(qsizetype size)
    {
        if (size > m_bytes.size() - m_at)
            return false;
        m_at += size;
        return true;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};
} // namespace

QByteArray CastMessage::encode() const
{
    QByteArray out;
    out.reserve(32 + sourceId.size() + destinationId.size() + nameSpace.size() +
                payloadUtf8.size() + payloadBinary.size());
    putVarint(out, (FieldProtocolVersion << 3) | Varint);
    putVarint(out, 0);
    putBytes(out, FieldSourceId, sourceId.toUtf8());
    putBytes(out, FieldDestinationId, destinationId.toUtf8());
    putBytes(out, FieldNamespace, nameSpace.toUtf8());
    putVarint(out, (FieldPayloadType << 3) | Varint);
    putVarint(out, quint64(payloadType));
    if (payloadType == PayloadType::String)
        putBytes(out, FieldPayloadUtf8, payloadUtf8);
    else
        putBytes(out, FieldPayloadBinary, payloadBinary);
    return out;
}

QByteArray CastMessage::frame() const
{
    const QByteArray body = encode();
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(quint32(body.size()), out.data());
    return out + body;
}

std::optional<CastMessage> CastMessage::decode(QByteArrayView bytes)
{
    CastMessage message;
    Reader reader(bytes);
    while (!reader.atEnd()) {
        const std::optional<quint64> tag = reader.varint();
        if (!tag || *tag >> 3 > 0xffffffffu)
            return std::nullopt;
        const auto field = quint32(*tag >> 3);
        const auto wire = quint32(*tag & 7);
        if (wire == Varint) {
            const std::optional<quint64> value = reader.varint();
            if (!value)
                return std::nullopt;
            if (field == FieldPayloadType) {
                if (*value > 1)
                    return std::nullopt;
                message.payloadType = static_cast<CastMessage::PayloadType>(*value);
            }
        } else if (wire == Bytes) {
            const std::optional<QByteArrayView> value = reader.bytes();
            if (!value)
                return std::nullopt;
            switch (field) {
            case FieldSourceId: message.sourceId = QString::fromUtf8(*value); break;
            case FieldDestinationId: message.destinationId = QString::fromUtf8(*value); break;
            case FieldNamespace: message.nameSpace = QString::fromUtf8(*value); break;
            case FieldPayloadUtf8: message.payloadUtf8 = value->toByteArray(); break;
            case FieldPayloadBinary: message.payloadBinary = value->toByteArray(); break;
            default: break;
            }
        } else if (wire == Fixed64 || wire == Fixed32) {
            if (!reader.skip(wire == Fixed64 ? 8 : 4))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        // A known field of another wire type than its own.
        if (field >= FieldProtocolVersion && field <= FieldPayloadBinary &&
            (wire == Varint) != (field == FieldProtocolVersion || field == FieldPayloadType))
            return std::nullopt;
    }
    if (message.nameSpace.isEmpty())
        return std::nullopt;
    return message;
}
