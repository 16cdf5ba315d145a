#include "platform/media/LoudnessLeveller.h"

#include "platform/base/Log.h"
#include "platform/media/GstLoudness.h"
#include "platform/media/LoudnessMemory.h"

#include <utility>

namespace {

// How often the meter is read: it hands a reading once 750 ms of audio came.
constexpr int kTickMs = 500;
constexpr int kTicksBetweenSaves = 60;

} // namespace

LoudnessLeveller::LoudnessLeveller(const QString &station, std::function<GstElement *()> pipeline,
                                   QObject *parent)
    : QObject(parent), m_station(station), m_pipeline(std::move(pipeline)),
      m_level(LoudnessLevel::kDefaultTargetLufs, loudnessmemory::recall(station))
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &LoudnessLeveller::tick);
    m_timer.start();
    m_level.advance();
}

LoudnessLeveller::~LoudnessLeveller()
{
    rememberLearned();
}

void LoudnessLeveller::setLevelling(bool on, double targetLufs)
{
    m_on = on;
    m_level.setTargetLufs(targetLufs);
    apply();
}

void LoudnessLeveller::apply()
{
    gstloudness::setGain(m_pipeline(), m_level.gainDb(), m_on);
}

void LoudnessLeveller::tick()
{
    GstElement *pipeline = m_pipeline();
    if (const std::optional<double> lufs = gstloudness::take(pipeline))
        m_level.addReading(*lufs);
    m_level.advance();
    // Every time: the engine may have made a new pipeline since.
    gstloudness::setGain(pipeline, m_level.gainDb(), m_on);
    if (++m_ticks % kTicksBetweenSaves == 0)
        rememberLearned();
}

void LoudnessLeveller::rememberLearned()
{
    const std::optional<double> learned = m_level.learnedGainDb();
    if (!learned)
        return;
    NSLog(lcMedia(), QtDebugMsg, "loudness: %@ keeps %@ dB", m_station, *learned);
    loudnessmemory::remember(m_station, *learned);
}
