#pragma once

#include <QByteArray>

#include <array>
#include <optional>

// ADTS: the header that lets frames of raw AAC (MP4's, or fMP4's) be played
// and recorded on their own.
namespace adts {

using Header = std::array<uchar, 7>;

// The header of the frames an AudioSpecificConfig describes: AAC Main, LC,
// SSR or LTP, or HE-AAC as its core (whose SBR players find by themselves),
// at a rate and channel layout ADTS can say; none otherwise. The frame length
// is filled in per frame.
std::optional<Header> headerFor(const uchar *config, qsizetype size);

// `frame` behind `header` with its length, appended to `out`; nothing if it
// is too long for ADTS to say.
void appendFrame(const Header &header, const char *frame, qsizetype size, QByteArray *out);

} // namespace adts
