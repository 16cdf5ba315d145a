#include "platform/stream/Fmp4Audio.h"

#include <algorithm>
#include <bit>

namespace {

constexpr quint32 fourcc(const char (&s)[5])
{
    return quint32(uchar(s[0])) << 24 | quint32(uchar(s[1])) << 16 | quint32(uchar(s[2])) << 8 |
           quint32(uchar(s[3]));
}

quint32 be32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

quint64 be64(const uchar *p)
{
    return quint64(be32(p)) << 32 | be32(p + 4);
}

// ADTS can say no more: a frame's length is 13 bits, its header included.

struct Box {
    quint32 type = 0;
    const uchar *body = nullptr;
    qsizetype size = 0;  // of the body
    qsizetype total = 0; // with the header
};

// The box at `p`, when its header and all it says it holds are within `room`.
bool boxAt(const uchar *p, qsizetype room, Box *box)
{
    if (room < 8)
        return false;
    quint64 size = be32(p);
    qsizetype header = 8;
    if (size == 1) {
        if (room < 16)
            return false;
        size = be64(p + 8);
        header = 16;
    } else if (size == 0) {
        size = quint64(room); // up to the end of its parent
    }
    if (size < quint64(header) || size > quint64(room))
        return false;
    *box = {be32(p + 4), p + header, qsizetype(size) - header, qsizetype(size)};
    return true;
}

// The first box of `type` among those in [p, p + size); each step moves on by
// at least a header, so a walk ends.
bool child(const uchar *p, qsizetype size, quint32 type, Box *out)
{
    Box box;
    for (qsizetype at = 0; boxAt(p + at, size - at, &box); at += box.total) {
        if (box.type == type) {
            *out = box;
            return true;
        }
    }
    return false;
}

bool path(Box box, std::initializer_list<quint32> types, Box *out)
{
    for (const quint32 type : types) {
        if (!child(box.body, box.size, type, &box))
            return false;
    }
    *out = box;
    return true;
}

// An MPEG-4 descriptor's tag and the length of its body, which follows at `p`.
bool descriptorAt(const uchar *&p, const uchar *end, int *tag, qsizetype *length)
{
    if (end - p < 2)
        return false;
    *tag = *p++;
    qsizetype size = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end)
            return false;
        const uchar b = *p++;
        size = size << 7 | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    *length = size;
    return size <= end - p;
}

} // namespace

bool Fmp4Audio::looksLike(const QByteArray &segment)
{
    if (segment.size() < 8)
        return false;
    const quint32 type = be32(reinterpret_cast<const uchar *>(segment.constData()) + 4);
    for (const quint32 known : {fourcc("ftyp"), fourcc("styp"), fourcc("moov"), fourcc("moof"),
                                fourcc("sidx"), fourcc("emsg"), fourcc("prft")}) {
        if (type == known)
            return true;
    }
    return false;
}

void Fmp4Audio::reset(bool sameStream)
{
    if (sameStream)
        return;
    m_track = Track();
    m_told = StreamTap::Format::Unknown;
    m_toldNone = false;
}

QByteArray Fmp4Audio::feed(const QByteArray &segment)
{
    const auto *p = reinterpret_cast<const uchar *>(segment.constData());
    const qsizetype size = segment.size();
    QByteArray out;
    Samples samples{p, size};
    Box box;
    qsizetype at = 0;
    for (; boxAt(p + at, size - at, &box); at += box.total) {
        if (box.type == fourcc("mdat"))
            samples.mdats.emplace_back(box.body - p, at + box.total);
    }
    if (const qsizetype header = size - at >= 8 && be32(p + at) == 1 ? 16 : 8;
        size - at >= header && be32(p + at + 4) == fourcc("mdat")) // cut short: to the end
        samples.mdats.emplace_back(at + header, size);
    for (at = 0; boxAt(p + at, size - at, &box); at += box.total) {
        if (box.type == fourcc("moov"))
            readMoov(box.body, box.size);
        else if (box.type == fourcc("moof"))
            readMoof(p + at, box.body, box.size, &samples, &out);
    }
    if (!out.isEmpty() && audio)
        audio(out.constData(), out.size());
    return out;
}

// The first sound track that holds AAC or MPEG audio, and its defaults for
// the fragments.
void Fmp4Audio::readMoov(const uchar *p, qsizetype size)
{
    Track found;
    const Box moov{fourcc("moov"), p, size, size};
    Box trak;
    for (qsizetype at = 0; boxAt(p + at, size - at, &trak); at += trak.total) {
        Box tkhd, hdlr, stsd;
        if (trak.type != fourcc("trak") || !path(trak, {fourcc("tkhd")}, &tkhd) ||
            !path(trak, {fourcc("mdia"), fourcc("hdlr")}, &hdlr) || hdlr.size < 12 ||
            be32(hdlr.body + 8) != fourcc("soun") ||
            !path(trak, {fourcc("mdia"), fourcc("minf"), fourcc("stbl"), fourcc("stsd")}, &stsd))
            continue;
        const qsizetype idAt = tkhd.size > 0 && tkhd.body[0] == 1 ? 20 : 12;
        if (tkhd.size < idAt + 4)
            continue;
        found.id = be32(tkhd.body + idAt);
        // stsd: version, flags, count, then the first entry; an audio entry's
        // own boxes follow 28 bytes (more in QuickTime's versions 1 and 2).
        Box entry, esds;
        if (stsd.size < 8 || !boxAt(stsd.body + 8, stsd.size - 8, &entry) || entry.size < 28)
            continue;
        const int version = entry.body[8] << 8 | entry.body[9];
        const qsizetype skip = version == 1 ? 44 : version == 2 ? 64 : 28;
        if (entry.type != fourcc("mp4a") || entry.size < skip ||
            !child(entry.body + skip, entry.size - skip, fourcc("esds"), &esds))
            continue;
        readEsds(esds.body, esds.size, &found);
        if (found.format != StreamTap::Format::Unknown)
            break;
    }
    Box mvex, trex;
    if (path(moov, {fourcc("mvex")}, &mvex)) {
        for (qsizetype at = 0; boxAt(mvex.body + at, mvex.size - at, &trex); at += trex.total) {
            if (trex.type == fourcc("trex") && trex.size >= 24 && be32(trex.body + 4) == found.id) {
                found.defaultSize = be32(trex.body + 16);
            }
        }
    }
    m_track = found;
    if (found.format == StreamTap::Format::Unknown) {
        if (!m_toldNone && started)
            started(found.format);
        m_toldNone = true;
    } else if (found.format != m_told) {
        if (started)
            started(found.format);
        m_told = found.format;
    }
}

// The esds's ES descriptor, its decoder config and, for AAC, the
// AudioSpecificConfig in that.
void Fmp4Audio::readEsds(const uchar *p, qsizetype size, Track *track)
{
    const uchar *end = p + size;
    int tag = 0;
    qsizetype length = 0;
    p += 4; // version, flags
    if (size < 4 || !descriptorAt(p, end, &tag, &length) || tag != 3 || length < 3)
        return;
    end = p + length;
    const int flags = p[2];
    p += 3 + (flags & 0x80 ? 2 : 0);
    if (flags & 0x40)
        p += p < end ? 1 + *p : 0;
    p += flags & 0x20 ? 2 : 0;
    if (p > end || !descriptorAt(p, end, &tag, &length) || tag != 4 || length < 13)
        return;
    const int object = p[0];
    end = p + length;
    p += 13;
    if (object == 0x69 || object == 0x6B) {
        track->format = StreamTap::Format::Mp3;
        return;
    }
    if (object != 0x40 && (object < 0x66 || object > 0x68))
        return;
    if (!descriptorAt(p, end, &tag, &length) || tag != 5)
        return;
    if (const auto header = adts::headerFor(p, length))
        *track = {track->id, 0, StreamTap::Format::Aac, *header};
}

// The samples of each fragment of the audio track, in order. A run without
// a data offset goes on where the one before ended; a sample is taken only
// when it lies within one mdat's data and after the last one taken, so no
// byte of the segment is read twice and what comes out is bounded by its
// audio. A run stops at the first sample that is not, and the next one goes
// on after all it declares, which costs nothing per sample without sizes of
// their own and one step per entry with them.
void Fmp4Audio::readMoof(const uchar *moof, const uchar *body, qsizetype size, Samples *samples,
                         QByteArray *out) const
{
    const qint64 past = samples->segmentSize + 1; // anything further is no better
    Box traf;
    for (qsizetype at = 0; boxAt(body + at, size - at, &traf); at += traf.total) {
        Box tfhd;
        if (traf.type != fourcc("traf") || !child(traf.body, traf.size, fourcc("tfhd"), &tfhd) ||
            tfhd.size < 8 || m_track.id == 0 || be32(tfhd.body + 4) != m_track.id)
            continue;
        const quint32 flags = be32(tfhd.body) & 0xFFFFFF;
        // Its optional fields in order: the base data offset (8 bytes), the
        // sample description, the default duration and size (4 each).
        qsizetype field = 8;
        qint64 base = moof - samples->segment;
        if (flags & 0x01) {
            if (tfhd.size < field + 8)
                continue;
            base = qint64(qMin<quint64>(be64(tfhd.body + field), quint64(past)));
            field += 8;
        }
        field += (flags & 0x02 ? 4 : 0) + (flags & 0x08 ? 4 : 0);
        qint64 defaultSize = m_track.defaultSize;
        if (flags & 0x10) {
            if (tfhd.size < field + 4)
                continue;
            defaultSize = be32(tfhd.body + field);
        }
        qint64 data = base;
        Box trun;
        for (qsizetype t = 0; boxAt(traf.body + t, traf.size - t, &trun); t += trun.total) {
            if (trun.type != fourcc("trun") || trun.size < 8)
                continue;
            const quint32 tflags = be32(trun.body) & 0xFFFFFF;
            const quint32 count = be32(trun.body + 4);
            qsizetype entry = 8;
            if (tflags & 0x01) {
                if (trun.size < entry + 4)
                    continue;
                data = qBound(qint64(-1), base + qint32(be32(trun.body + entry)), past);
                entry += 4;
            }
            entry += tflags & 0x04 ? 4 : 0;
            const int each = 4 * std::popcount(tflags & 0xF00);
            // Never more samples than the box has entries.
            if (entry > trun.size || (each > 0 && count > quint64(trun.size - entry) / each)) {
                data = past;
                continue;
            }
            bool taking = true;
            for (quint32 i = 0; i < count; ++i, entry += each) {
                const uchar *e = trun.body + entry;
                e += tflags & 0x100 ? 4 : 0; // its duration
                const qint64 sampleSize = tflags & 0x200 ? be32(e) : defaultSize;
                if (!(tflags & 0x200) && !taking) {
                    const qint64 left = qint64(count - i);
                    data = sampleSize > 0 && left > (past - data) / sampleSize
                               ? past
                               : data + left * sampleSize;
                    break;
                }
                taking = taking && sampleSize > 0 && samples->take(data, sampleSize);
                if (taking)
                    sample(samples->segment + data, sampleSize, out);
                data = qMin(past, data + sampleSize);
            }
        }
    }
}

bool Fmp4Audio::Samples::take(qint64 at, qint64 size)
{
    if (at < taken || at < 0)
        return false;
    // The mdat that holds `at`: the last that begins at or before it.
    auto mdat = std::upper_bound(mdats.begin(), mdats.end(), at,
                                 [](qint64 a, const auto &m) { return a < m.first; });
    if (mdat == mdats.begin() || at + size > std::prev(mdat)->second)
        return false;
    taken = at + size;
    return true;
}

void Fmp4Audio::sample(const uchar *p, qsizetype size, QByteArray *out) const
{
    if (m_track.format == StreamTap::Format::Mp3) {
        out->append(reinterpret_cast<const char *>(p), size);
        return;
    }
    if (m_track.format == StreamTap::Format::Aac)
        adts::appendFrame(m_track.adts, reinterpret_cast<const char *>(p), size, out);
}
