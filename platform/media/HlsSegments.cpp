#include "platform/media/HlsSegments.h"

#include "platform/media/MediaItem.h"
#include "platform/stream/TimelineAudio.h"

HlsSegments::HlsSegments(std::shared_ptr<MediaItem> item, std::shared_ptr<TimelineAudio> kept)
    : m_item(std::move(item)), m_kept(std::move(kept))
{
    m_tsAudio.started = m_fmp4.started = [this](StreamTap::Format format) {
        if (const auto tap = m_item ? m_item->streamTap() : nullptr)
            tap->streamStarted(format);
        // Audio of a codec read here: the recorder reads it where it is kept.
        m_kept->started(format);
        if (m_item)
            m_item->setKeptAudio(format == StreamTap::Format::Unknown ? nullptr : m_kept);
    };
    m_fmp4.audio = [this](const char *data, qsizetype size) {
        if (const auto tap = m_item ? m_item->streamTap() : nullptr)
            tap->streamData(data, size);
    };
    m_tsAudio.audio = [this](const char *data, qsizetype size) {
        if (const auto tap = m_item ? m_item->streamTap() : nullptr)
            tap->streamData(data, size);
        m_segmentAudio.append(data, size);
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
        m_segmentAudio.clear();
        m_tsAudio.feed(segment);
        if (m_tsAudio.format() == StreamTap::Format::Unknown)
            return segment;
        if (m_segmentAudio.isEmpty())
            return std::nullopt;
        return std::exchange(m_segmentAudio, {});
    }
    QByteArray audio = m_fmp4.feed(segment);
    if (m_fmp4.format() == StreamTap::Format::Unknown)
        return segment;
    if (audio.isEmpty())
        return std::nullopt;
    return audio;
}
