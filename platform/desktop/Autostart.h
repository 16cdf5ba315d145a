#pragma once

#include <QString>
#include <QStringList>

// Starting with the desktop session: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/<desktop file name>.desktop.
namespace autostart {

QString entryPath();
// Whether the entry is there and the desktop has not been told to skip it
// (Hidden=true, or GNOME's X-GNOME-Autostart-enabled=false).
bool isEnabled();
// Writes the entry (atomically) to start `program` with `arguments`, or
// removes it. False, with the reason in the log, when that failed.
bool setEnabled(bool enabled, const QString &program, const QStringList &arguments);
// `program` and `arguments` as the value of an Exec key in the entry file:
// quoted, with '%' doubled, as desktop entries want.
QString execLine(const QString &program, const QStringList &arguments);

} // namespace autostart
