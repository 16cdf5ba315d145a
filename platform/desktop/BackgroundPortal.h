#pragma once

#include <QString>

// Tells the desktop, through the XDG desktop portal's Background interface,
// that Orbitune goes on running with no window (sound still plays), so the
// desktop can list it among the apps running in the background. Without the
// portal, or if it refuses, nothing changes: the media controls still reach
// the player over MPRIS.
namespace backgroundportal {
void request(const QString &reason);
}
