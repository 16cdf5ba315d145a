#pragma once

// How Orbitune names itself to the servers it talks to.
namespace appinfo {
inline constexpr char kUserAgent[] = "Orbitune/" ORBITUNE_VERSION;
}
