#include "platform/stream/TsAudio.h"

namespace {

constexpr int kPacket = 188;
constexpr uchar kSync = 0x47;

} // namespace

void TsAudio::reset(bool sameStream)
{
    const StreamTap::Format told = sameStream ? m_told : StreamTap::Format::Unknown;
    auto keepStarted = std::move(started);
    auto keepAudio = std::move(audio);
    *this = TsAudio();
    started = std::move(keepStarted);
    audio = std::move(keepAudio);
    m_told = told;
}

void TsAudio::feed(const QByteArray &bytes)
{
    QByteArray data = m_partial + bytes;
    qsizetype at = 0;
    while (at + kPacket <= data.size()) {
        const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
        // In step: a sync byte where the last packet ended. Out of step, a
        // sync byte begins a packet only when the next one begins with one
        // too, and that byte is waited for: what is taken for a packet must
        // not depend on where the network cut the stream.
        if (p[0] != kSync) {
            m_inStep = false;
            ++at;
            continue;
        }
        if (!m_inStep && at + kPacket >= data.size())
            break;
        if (!m_inStep && uchar(data.at(at + kPacket)) != kSync) {
            ++at;
            continue;
        }
        m_synced = true;
        m_inStep = true;
        packet(p);
        at += kPacket;
    }
    m_partial = data.mid(at);
    if (!m_synced && !m_toldNone && data.size() > 4 * kPacket) {
        m_toldNone = true; // fMP4, or anything else: not recorded as sent
        if (started)
            started(StreamTap::Format::Unknown);
    }
}

void TsAudio::packet(const uchar *p)
{
    const bool unitStart = p[1] & 0x40;
    const int pid = (p[1] & 0x1F) << 8 | p[2];
    const int adaptation = (p[3] >> 4) & 3;
    int at = 4;
    if (adaptation == 2 || adaptation == 0)
        return; // no payload
    if (adaptation == 3)
        at += 1 + p[4];
    if (at >= kPacket)
        return;
    if (pid == 0 || pid == m_pmtPid) {
        table(p + at, kPacket - at, unitStart, pid);
        return;
    }
    if (pid != m_audioPid)
        return;
    const uchar *payload = p + at;
    int size = kPacket - at;
    if (unitStart) {
        // 00 00 01, stream id, length, two flag bytes, the header's length.
        if (size < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) {
            m_inPes = false;
            return;
        }
        m_inPes = true;
        m_pesSkip = 9 + payload[8];
    }
    if (!m_inPes)
        return;
    const int skip = qMin(m_pesSkip, size);
    m_pesSkip -= skip;
    if (size > skip && audio)
        audio(reinterpret_cast<const char *>(payload + skip), size - skip);
}

// The PAT (the program map's PID) and the PMT (the audio's PID), each taken
// from the first packet of its section; they are short enough to fit one.
void TsAudio::table(const uchar *p, int size, bool unitStart, int pid)
{
    if (!unitStart || size < 1 || 1 + p[0] + 12 > size)
        return;
    const int pointer = p[0];
    p += 1 + pointer;
    size -= 1 + pointer;
    const int length = qMin((p[1] & 0x0F) << 8 | p[2], size - 3);
    const uchar *end = p + 3 + length - 4; // before the CRC
    if (pid == 0) {
        for (const uchar *e = p + 8; e + 4 <= end; e += 4) {
            if ((e[0] << 8 | e[1]) != 0) { // program 0 is the network's
                m_pmtPid = (e[2] & 0x1F) << 8 | e[3];
                break;
            }
        }
        return;
    }
    if (m_audioPid >= 0 || length < 13)
        return;
    const int infoLength = (p[10] & 0x0F) << 8 | p[11];
    // Offsets, not pointers: the lengths the table gives may point far past it.
    const qsizetype room = end - p;
    for (qsizetype at = 12 + infoLength; at + 5 <= room;) {
        const uchar *e = p + at;
        const int type = e[0];
        const int esPid = (e[1] & 0x1F) << 8 | e[2];
        const int esInfo = (e[3] & 0x0F) << 8 | e[4];
        const StreamTap::Format format = type == 0x0F ? StreamTap::Format::Aac
                                         : type == 0x03 || type == 0x04
                                             ? StreamTap::Format::Mp3
                                             : StreamTap::Format::Unknown;
        if (format != StreamTap::Format::Unknown) {
            m_audioPid = esPid;
            if (started && format != m_told)
                started(format);
            m_told = format;
            return;
        }
        at += 5 + esInfo;
    }
}
