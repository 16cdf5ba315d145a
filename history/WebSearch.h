#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Where "Search the web" opens a song: URL templates in the settings file
// (orbitune.conf), `%s` standing for the song, percent-encoded:
//
//     [webSearch]
//     1\name=MusicBrainz
//     1\url=https://musicbrainz.org/search?query=%s&type=recording
//     size=1
//
// Without such a list, MusicBrainz's recording search and DuckDuckGo.
// Only http and https addresses are opened.
namespace websearch {

struct Engine {
    QString name;
    QString urlTemplate;
};

QList<Engine> defaults();
// The engines of the settings file, else the defaults; entries that are
// not an http(s) address with `%s` are left out (and logged).
QList<Engine> engines();
// The address for `query`; invalid when the template is unusable.
QUrl url(const QString &urlTemplate, const QString &query);

} // namespace websearch
