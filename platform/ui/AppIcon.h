#pragma once

#include <QIcon>

// The application's own icons. The window icon comes from the desktop's icon
// theme when Orbitune is installed (so it matches the launcher) and from the
// bundled copies otherwise.
namespace AppIcon {

inline constexpr const char *ThemeName = "orbitune";
inline constexpr const char *ScalableResource = ":/icons/orbitune.svg";
// Freedesktop symbolic colouring (#bebebe), for hosts that recolour.
inline constexpr const char *SymbolicResource = ":/icons/orbitune-symbolic.svg";

// QIcon::fromTheme("orbitune") with the bundled icon as fallback.
QIcon application();
// The bundled icon alone: every rendered size (:/icons/hicolor/NxN/orbitune.png).
QIcon bundled();

} // namespace AppIcon
