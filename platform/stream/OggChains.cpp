#include "platform/stream/OggChains.h"

#include <algorithm>

namespace {

constexpr qsizetype kHeaderSize = 27;          // before the segment table
constexpr qsizetype kMaxHeaders = 1024 * 1024; // pictures in comments included
constexpr double kMinTimedS = 2;               // before a byte rate is told

// The samples per second of the codec whose first header is `packet`
// (Vorbis; Opus counts at 48 kHz); 0 for others.
int sampleRate(const QByteArray &packet)
{
    if (packet.startsWith("OpusHead"))
        return 48000;
    if (!packet.startsWith("\x01vorbis") || packet.size() < 16)
        return 0;
    return int(uchar(packet.at(12)) | uchar(packet.at(13)) << 8 | uchar(packet.at(14)) << 16 |
               uchar(packet.at(15)) << 24);
}

} // namespace

void OggChains::append(qint64 offset, const QByteArray &bytes)
{
    m_reader.feed(offset, bytes.constData(), bytes.size(),
                  [this](qint64 at, const QByteArray &page) { this->page(at, page); });
}

void OggChains::restart(qint64 offset)
{
    m_reader.reset();
    if (m_chains.isEmpty() || m_chains.last().start != offset)
        m_chains.append({offset, offset, {}, false});
}

void OggChains::page(qint64 offset, const QByteArray &page)
{
    m_pages.push_back(offset);
    m_pageEnds.push_back(offset + page.size());
    const bool bos = page.at(5) & 0x02;
    qint64 granule = 0;
    for (int i = 13; i >= 6; --i)
        granule = granule << 8 | uchar(page.at(i));
    if (bos && (m_chains.isEmpty() || m_chains.last().complete))
        m_chains.append({offset, offset, {}, false});
    if (m_chains.isEmpty())
        return;
    Chain &chain = m_chains.last();
    const qint64 end = offset + page.size();
    if (chain.complete) {
        if (granule > chain.granule && chain.rate > 0) {
            m_bytes += end - chain.end;
            m_seconds += double(granule - chain.granule) / chain.rate;
            chain.granule = granule;
            chain.end = end;
        }
        return;
    }
    if (bos)
        chain.rate = sampleRate(page.mid(kHeaderSize + uchar(page.at(kHeaderSize - 1))));
    // Header pages end no packet past the headers: granule 0, or -1 for a
    // page that ends no packet at all.
    if (!bos && granule != 0 && granule != -1) {
        chain.complete = true;
        chain.granule = granule;
        chain.end = end;
        return;
    }
    chain.headers += page;
    chain.headersEnd = end;
    if (chain.headers.size() > kMaxHeaders) { // not kept: a seek into it is not heard
        chain.headers.clear();
        chain.complete = true;
        chain.rate = 0;
    }
}

double OggChains::byteRate() const
{
    return m_seconds >= kMinTimedS ? double(m_bytes) / m_seconds : 0.0;
}

void OggChains::forgetBefore(qint64 offset)
{
    while (m_chains.size() > 1 && m_chains.at(1).start <= offset)
        m_chains.removeFirst();
    while (!m_pages.empty() && m_pages.front() < offset) {
        m_pages.pop_front();
        m_pageEnds.pop_front();
    }
}

OggChains::Start OggChains::startAt(qint64 offset, qint64 handed, qint64 handedEnd) const
{
    const Chain *chain = chainAt(offset);
    Start start{offset, chain != chainAt(handed) || chain != chainAt(handedEnd - 1), {}};
    if (!chain || m_pages.empty())
        return start;
    // Within a chain's headers: all of them, from the chain's start while
    // that is still held, else from its first audio page (they are kept).
    if (!chain->complete || offset < chain->headersEnd) {
        if (chain->start >= m_pages.front()) {
            start.offset = chain->start;
            return start;
        }
        offset = chain->headersEnd;
    }
    // The page the offset is in: a little early rather than late, which
    // near live would wait for the network.
    const auto after = std::upper_bound(m_pages.cbegin(), m_pages.cend(), offset);
    start.offset = after == m_pages.cbegin() ? *after : *(after - 1);
    if (start.otherChain)
        start.headers = chain->headers;
    return start;
}

const OggChains::Chain *OggChains::chainAt(qint64 offset) const
{
    for (qsizetype i = m_chains.size() - 1; i >= 0; --i) {
        if (m_chains.at(i).start <= offset)
            return &m_chains.at(i);
    }
    return nullptr;
}

OggChains::Headers OggChains::headersAt(qint64 offset) const
{
    const Chain *chain = chainAt(offset);
    if (!chain)
        return {};
    return {chain->start, chain->headersEnd, chain->headers, chain->complete};
}

QList<std::pair<qint64, qint64>> OggChains::pagesIn(qint64 from, qint64 to) const
{
    QList<std::pair<qint64, qint64>> out;
    auto end = std::upper_bound(m_pageEnds.cbegin(), m_pageEnds.cend(), from);
    for (auto begin = m_pages.cbegin() + (end - m_pageEnds.cbegin());
         end != m_pageEnds.cend() && *begin < to; ++begin, ++end) {
        if (!out.isEmpty() && out.last().second == *begin)
            out.last().second = *end; // one run of pages that follow each other
        else
            out.append({*begin, *end});
    }
    return out;
}

qint64 OggChains::wholeEnd(qint64 end) const
{
    if (!m_pageEnds.empty())
        end = m_pageEnds.back();
    if (!m_chains.isEmpty() && !m_chains.last().complete)
        end = qMin(end, m_chains.last().start);
    return end;
}

qint64 OggChains::pageFrom(qint64 offset) const
{
    const auto at = std::lower_bound(m_pages.cbegin(), m_pages.cend(), offset);
    return at == m_pages.cend() ? -1 : *at;
}
