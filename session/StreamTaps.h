#pragma once

#include "platform/stream/StreamTap.h"

#include <memory>
#include <mutex>
#include <vector>

// The one tap every stream of the session is given, passing the stream on
// to the taps attached now (the recorder's buffer, the server a renderer
// fetches from). A tap attached while a stream runs hears that stream
// begin, in the format it has, before its next bytes.
class StreamTaps : public StreamTap {
public:
    // Replaces the tap in `slot` (null detaches it).
    enum class Slot { Recorder, Cast, Count };
    void set(Slot slot, std::shared_ptr<StreamTap> tap);

    void streamStarted(Format format) override;
    void streamData(const char *data, qsizetype size) override;
    void streamTitle(const QString &title) override;

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<StreamTap> m_taps[int(Slot::Count)];
    bool m_running = false;
    Format m_format = Format::Unknown;
};
