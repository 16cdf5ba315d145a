#pragma once

#include <QIcon>

// The application's own icons. The window icon comes from the desktop's icon
// theme when Orbitune is installed (so it matches the launcher) and from the
// bundled copies otherwise. Tray glyphs are monochrome and come in three
// colourings, since panels may be dark or light.
namespace AppIcon {

inline constexpr const char *ThemeName = "orbitune";
inline constexpr const char *ScalableResource = ":/icons/orbitune.svg";
// Light glyph with a dark outline: readable on any panel.
inline constexpr const char *TrayResource = ":/icons/orbitune-tray.svg";
inline constexpr const char *TrayForDarkPanelResource = ":/icons/orbitune-tray-light.svg";
inline constexpr const char *TrayForLightPanelResource = ":/icons/orbitune-tray-dark.svg";
// Freedesktop symbolic colouring (#bebebe), for hosts that recolour.
inline constexpr const char *SymbolicResource = ":/icons/orbitune-symbolic.svg";

// QIcon::fromTheme("orbitune") with the bundled icon as fallback.
QIcon application();
// The bundled icon alone: every rendered size (:/icons/hicolor/NxN/orbitune.png).
QIcon bundled();

enum class Panel { Unknown, Dark, Light };
QIcon tray(Panel panel = Panel::Unknown);

} // namespace AppIcon
