#pragma once

#include <QString>

#include <optional>

// The levelling gain learned per station (by its address), in the settings
// file: the most recent `kStations` kept, a station played again starting
// at its own gain.
namespace loudnessmemory {

constexpr int kStations = 500;

std::optional<double> recall(const QString &station);
// Keeps `gainDb` for `station` as the most recent.
void remember(const QString &station, double gainDb);

} // namespace loudnessmemory
