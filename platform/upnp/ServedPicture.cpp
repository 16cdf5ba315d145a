#include "platform/upnp/ServedPicture.h"

#include "platform/base/Log.h"
#include "platform/upnp/CastLog.h"

void ServedPicture::clear()
{
    m_state = State::None;
    m_bytes.clear();
    m_mime.clear();
}

int ServedPicture::begin()
{
    clear();
    m_state = State::Making;
    return ++m_serial;
}

bool ServedPicture::set(int serial, const QByteArray &bytes, const QString &mime)
{
    if (serial != m_serial)
        return false;
    const bool made = !bytes.isEmpty() && bytes.size() <= kMaxBytes;
    if (!bytes.isEmpty() && !made)
        NSLog(lcCast(), QtWarningMsg, "a picture of %@ bytes is not served", bytes.size());
    m_state = made ? State::Made : State::None;
    m_bytes = made ? bytes : QByteArray();
    m_mime = made ? mime.toLatin1() : QByteArray();
    return true;
}

QByteArray ServedPicture::name() const
{
    return m_state == State::None ? QByteArray() : "picture-" + QByteArray::number(m_serial);
}

QByteArray ServedPicture::response(bool headOnly) const
{
    if (m_state != State::Made)
        return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: " + m_mime +
           "\r\nContent-Length: " + QByteArray::number(m_bytes.size()) +
           "\r\nCache-Control: max-age=3600\r\nConnection: close\r\n\r\n" +
           (headOnly ? QByteArray() : m_bytes);
}
