#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <initializer_list>

// printf-style diagnostics to stderr and the system journal, one line per
// event. Formats use the conventions of our log lines: "%@" prints any value
// (strings as-is, lists and dictionaries in a readable nested form), "%ld" and
// "%d" print integers, "%%" prints a percent sign.
//
//     NSLog("filePath:%@", path);
//     NSLog("播放正在：%ld", row);
namespace orbitune::log {

QString format(const char *fmt, std::initializer_list<QVariant> args);
QString describe(const QVariant &value);
void write(const QString &line);

// Tests install a sink to see each formatted line (without the prefix).
using Sink = std::function<void(const QString &line)>;
void setSink(Sink sink);

} // namespace orbitune::log

template <typename... Args> void NSLog(const char *fmt, const Args &...args)
{
    orbitune::log::write(orbitune::log::format(fmt, {QVariant::fromValue(args)...}));
}
