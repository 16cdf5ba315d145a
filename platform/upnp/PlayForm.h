#pragma once

#include <QString>
#include <QStringList>

// How a stream of one type is offered to a renderer, worked out from what
// its ConnectionManager's GetProtocolInfo says it plays ("sink" entries of
// the form protocol:network:content-format:additional).
struct PlayForm {
    bool playable = false;
    // The type to announce (the renderer's own spelling where it differs).
    QString mime;
    // The address to give it: the served URL, or Sonos' radio form of it
    // (x-rincon-mp3radio://host:port/path) where the renderer asks for that.
    QString uri;
    // The DIDL-Lite resource's protocol info.
    QString protocolInfo;

    // `sink` empty (the renderer did not say) is taken as "try it".
    static PlayForm choose(const QStringList &sink, const QString &mime, const QString &url);
};
