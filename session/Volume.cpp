#include "session/Volume.h"

#include "platform/base/Settings.h"

#include <cmath>

namespace {
const QString kLevelKey = QStringLiteral("volume/level");
const QString kMutedKey = QStringLiteral("volume/muted");

double clamped(double v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}
} // namespace

Volume::Volume(QObject *parent) : QObject(parent)
{
    const auto s = settings::open();
    bool ok = false;
    const double level = s->value(kLevelKey, 1.0).toDouble(&ok);
    if (ok && !std::isnan(level))
        m_level = clamped(level);
    m_muted = s->value(kMutedKey, false).toBool();
}

void Volume::setLevel(double level)
{
    if (std::isnan(level))
        return;
    // Steps of 0.05 add up with rounding errors; keep whole percents.
    level = std::round(clamped(level) * 1000) / 1000;
    if (level == m_level && m_override < 0)
        return;
    m_level = level;
    save();
    takeOverride();
    Q_EMIT changed();
    Q_EMIT effectiveChanged();
}

void Volume::step(int steps)
{
    // From what is heard: during an alarm, from the alarm's volume.
    setLevel(heardLevel() + steps * kStep);
}

void Volume::setMuted(bool muted)
{
    if (muted == m_muted && m_override < 0)
        return;
    m_muted = muted;
    save();
    takeOverride();
    Q_EMIT changed();
    Q_EMIT effectiveChanged();
}

void Volume::setFade(double fade)
{
    fade = std::isnan(fade) ? 1.0 : clamped(fade);
    if (fade == m_fade)
        return;
    m_fade = fade;
    Q_EMIT effectiveChanged();
}

void Volume::setOverride(double level)
{
    level = std::isnan(level) ? 0.0 : clamped(level);
    if (level == m_override)
        return;
    m_override = level;
    Q_EMIT effectiveChanged();
}

void Volume::clearOverride()
{
    if (m_override < 0)
        return;
    m_override = -1;
    Q_EMIT effectiveChanged();
}

void Volume::takeOverride()
{
    if (m_override < 0)
        return;
    m_override = -1;
    Q_EMIT overrideTaken();
}

void Volume::save() const
{
    const auto s = settings::open();
    s->setValue(kLevelKey, m_level);
    s->setValue(kMutedKey, m_muted);
}

#include "moc_Volume.cpp"
