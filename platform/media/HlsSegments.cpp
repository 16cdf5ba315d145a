#include "platform/media/HlsSegments.h"

#include "platform/media/MediaItem.h"

HlsSegments::HlsSegments(std::shared_ptr<MediaItem> item) : m_item(std::move(item))
{
    m_tsAudio.started = m_fmp4.started = [this](StreamTap::Format format) {
        if (const auto tap = m_item ? m_item->streamTap() : nullptr)
            tap->streamStarted(format);
    };
    m_tsAudio.audio = m_fmp4.audio = [this](const char *data, qsizetype size) {
        if (const auto tap = m_item ? m_item->streamTap() : nullptr)
            tap->streamData(data, size);
    };
}

void HlsSegments::restart(bool sameStream)
{
    m_tsAudio.reset(sameStream);
    m_fmp4.reset(sameStream);
}

std::optional<QByteArray> HlsSegments::kept(const QByteArray &segment)
{
    if (!Fmp4Audio::looksLike(segment)) {
        m_tsAudio.feed(segment);
        return segment;
    }
    QByteArray audio = m_fmp4.feed(segment);
    if (m_fmp4.format() == StreamTap::Format::Unknown)
        return segment;
    if (audio.isEmpty())
        return std::nullopt;
    return audio;
}
