#pragma once

#include <QSettings>

#include <memory>

// The small settings file for listening preferences (volume, notifications):
// $XDG_CONFIG_HOME/orbitune/orbitune.conf, apart from the program list.
namespace settings {
inline std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("orbitune"), QStringLiteral("orbitune"));
}
} // namespace settings
