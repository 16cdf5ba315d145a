#include "platform/media/LoudnessMemory.h"

#include "platform/base/Settings.h"
#include "platform/media/LoudnessLevel.h"

#include <QVariantList>

#include <cmath>

namespace {

// Pairs of address and gain, the most recent first.
const QString kKey = QStringLiteral("loudness/stationGains");

} // namespace

namespace loudnessmemory {

std::optional<double> recall(const QString &station)
{
    const QVariantList pairs = settings::open()->value(kKey).toList();
    for (qsizetype i = 0; i + 1 < pairs.size() && i < 2 * kStations; i += 2) {
        if (pairs.at(i).toString() != station)
            continue;
        bool ok = false;
        const double gain = pairs.at(i + 1).toDouble(&ok);
        if (!ok || !std::isfinite(gain) || std::abs(gain) > LoudnessLevel::kMaxGainDb)
            return std::nullopt; // not ours, or changed by hand
        return gain;
    }
    return std::nullopt;
}

void remember(const QString &station, double gainDb)
{
    if (station.isEmpty() || !std::isfinite(gainDb))
        return;
    const auto file = settings::open();
    const QVariantList old = file->value(kKey).toList();
    QVariantList pairs{station, gainDb};
    for (qsizetype i = 0; i + 1 < old.size() && pairs.size() < 2 * kStations; i += 2) {
        if (old.at(i).toString() != station)
            pairs << old.at(i) << old.at(i + 1);
    }
    file->setValue(kKey, pairs);
}

} // namespace loudnessmemory
