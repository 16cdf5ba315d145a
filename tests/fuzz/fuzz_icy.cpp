// Fuzz target for a stream's answer read by our own HTTP/ICY client: the
// head (status line and the headers the client reads, as it reads them) and
// the body after it, chunked or not, with ICY metadata blocks woven into the
// audio. The body is fed once whole and once in pieces of any size: the
// audio and the titles must come out the same, and never more audio than
// the body held.

#include "FuzzSupport.h"
#include "platform/stream/IcyBody.h"
#include "platform/stream/IcyHttp.h"

#include <QStringList>

#include <cstdint>

namespace {

struct Read {
    QByteArray audio;
    QStringList titles;
    bool ok = true;
    bool finished = false;
};

Read readBody(bool chunked, qint64 metaInterval, const QList<QByteArray> &pieces)
{
    Read read;
    IcyBody body;
    body.audio = [&read](const QByteArray &bytes) { read.audio += bytes; };
    body.title = [&read](const QString &title) { read.titles << title; };
    body.reset(chunked, metaInterval);
    for (const QByteArray &piece : pieces) {
        if (!body.feed(piece)) {
            read.ok = false;
            break;
        }
    }
    read.finished = body.finished();
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The first byte cuts the body into pieces; the head ends at the first
    // empty line, as IcyHttpClient reads it.
    const unsigned seed = data[0];
    const QByteArray answer(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    qsizetype headEnd = answer.indexOf("\r\n\r\n");
    qsizetype bodyStart = headEnd + 4;
    if (headEnd < 0) {
        headEnd = answer.indexOf("\n\n");
        bodyStart = headEnd + 2;
    }
    if (headEnd < 0)
        return 0;
    const QByteArray head = answer.left(headEnd);
    const QByteArray bytes = answer.mid(bodyStart);

    icyhttp::statusCode(head.left(head.indexOf('\n')));
    icyhttp::headerValue(head, "Location");
    fuzz::check(icyhttp::headerValue(head, "Content-Type").size() <= head.size(),
                "a header value longer than the head");
    const qint64 metaint = icyhttp::headerValue(head, "icy-metaint").toLongLong();
    const bool chunked =
        icyhttp::headerValue(head, "Transfer-Encoding").toLower().contains("chunked");
    const qint64 interval = metaint > 0 && metaint <= (1 << 20) ? metaint : 0;

    const Read whole = readBody(chunked, interval, {bytes});
    fuzz::check(whole.audio.size() <= bytes.size(), "more audio than the body held");
    if (!whole.ok)
        return 0;
    const Read cut = readBody(chunked, interval, fuzz::pieces(bytes, seed % 64 + 1));
    fuzz::check(cut.ok, "a body read whole was refused in pieces");
    fuzz::check(cut.audio == whole.audio, "the audio depends on how the body was cut");
    fuzz::check(cut.titles == whole.titles, "the titles depend on how the body was cut");
    fuzz::check(cut.finished == whole.finished, "the end depends on how the body was cut");
    return 0;
}
