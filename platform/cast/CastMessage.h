#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// One message of the Cast v2 protocol: the CastMessage protocol buffer's
// seven fields, encoded and decoded by hand (varints and length-delimited
// fields only), and the frame it travels in on the connection (a 4-byte
// big-endian length, then the message). Decoding is linear in its input,
// refuses truncated and overlong varints and skips fields it does not know.
struct CastMessage {
    enum class PayloadType { String = 0, Binary = 1 };

    // Frames above this size are refused and end the connection.
    static constexpr qsizetype kMaxFrame = 64 * 1024;

    QString sourceId;
    QString destinationId;
    QString nameSpace;
    PayloadType payloadType = PayloadType::String;
    QByteArray payloadUtf8;
    QByteArray payloadBinary;

    // The protocol buffer (protocol version CASTV2_1_0).
    QByteArray encode() const;
    // The message with its length in front, as it is sent.
    QByteArray frame() const;
    // Empty when `bytes` is not a whole CastMessage with a namespace.
    static std::optional<CastMessage> decode(QByteArrayView bytes);
};
