#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One station of the community Radio Browser directory, reduced to what the
// Find Stations window shows and stores.
struct Station {
    QString uuid;
    QString name;
    // The stream to play: the directory's resolved URL when it has one
    // (playlists already followed), otherwise the URL it was given.
    QString streamUrl;
    QString favicon;
    QString country;
    QString language;
    QString tags;
    QString codec;
    int bitrate = 0;

    // "MP3 · 128 kbps", "AAC", "128 kbps" or "".
    QString formatText() const;
};

namespace stationjson {

struct Result {
    bool ok = false;
    // Why the body could not be read at all (when !ok).
    QString error;
    QList<Station> stations;
    // Entries that were not stations (wrong types, no name, no usable
    // stream URL); they are left out.
    int skipped = 0;
};

// Reads a /json/stations/... answer: an array of station objects.
Result parse(const QByteArray &body);

} // namespace stationjson
