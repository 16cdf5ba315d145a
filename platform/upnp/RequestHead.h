#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The head of an HTTP request as the stream server reads it from a
// renderer: the request line, and whether the client asks for ICY
// metadata. Read in one pass over at most kMaxBytes; anything else a
// client sends is not looked at.
struct RequestHead {
    static constexpr qsizetype kMaxBytes = 8 * 1024;

    enum class Status {
        // No blank line yet, and still within kMaxBytes.
        Incomplete,
        Complete,
        // Too long, or not "METHOD target HTTP/x.y".
        Malformed,
    };

    Status status = Status::Incomplete;
    QByteArray method;
    QByteArray target;
    bool icyMetadata = false;

    // `bytes`: everything the client sent so far.
    static RequestHead parse(QByteArrayView bytes);
};
