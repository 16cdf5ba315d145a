#include "platform/upnp/RequestHead.h"

namespace {

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c < 'A' || c > 'Z')
            return false;
    }
    return true;
}

// "METHOD SP target SP HTTP/x.y", nothing else on the line.
bool readRequestLine(QByteArrayView line, RequestHead *head)
{
    const qsizetype first = line.indexOf(' ');
    if (first <= 0)
        return false;
    const qsizetype second = line.indexOf(' ', first + 1);
    if (second <= first + 1)
        return false;
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, second - first - 1);
    const QByteArrayView version = line.sliced(second + 1);
    if (!isToken(method) || !target.startsWith('/') || version.size() != 8 ||
        !version.startsWith("HTTP/1.") || version.back() < '0' || version.back() > '9')
        return false;
    for (const char c : target) {
        if (uchar(c) <= ' ' || uchar(c) >= 0x7f)
            return false;
    }
    head->method = method.toByteArray();
    head->target = target.toByteArray();
    return true;
}

} // namespace

RequestHead RequestHead::parse(QByteArrayView bytes)
{
    RequestHead head;
    const QByteArrayView window = bytes.first(qMin(bytes.size(), kMaxBytes));
    qsizetype start = 0;
    bool first = true;
    while (start < window.size()) {
        const qsizetype end = window.indexOf('\n', start);
        if (end < 0)
            break;
        QByteArrayView line = window.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        start = end + 1;
        if (first) {
            if (!readRequestLine(line, &head))
                return {Status::Malformed};
            first = false;
            continue;
        }
        if (line.isEmpty()) {
            head.status = Status::Complete;
            return head;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return {Status::Malformed};
        if (line.first(colon).compare("icy-metadata", Qt::CaseInsensitive) == 0)
            head.icyMetadata = trimmed(line.sliced(colon + 1)) == "1";
    }
    if (bytes.size() >= kMaxBytes)
        return {Status::Malformed};
    return {Status::Incomplete};
}
