#pragma once

#include <QLoggingCategory>
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
//
// Each line belongs to a Qt logging category, one per layer (below), and has
// a priority: debug for the chatty lines (every read of the data file, the
// pointer over a row), info for what happened, warning for what went wrong
// but was handled, critical for what was lost. Debug lines are off unless
// switched on, e.g. QT_LOGGING_RULES="orbitune.*.debug=true"; the rest go to
// stderr and to the journal at the matching syslog priority.
//
//     NSLog(lcStore(), QtDebugMsg, "dataDic:%@", value);
namespace orbitune::log {

QString format(const char *fmt, std::initializer_list<QVariant> args);
QString describe(const QVariant &value);
// Writes `line` if `category` lets `type` through.
void write(const QLoggingCategory &category, QtMsgType type, const QString &line);
// A line of the general category, at info.
void write(const QString &line);

// Tests install a sink to see each formatted line (without the prefix).
using Sink = std::function<void(const QString &line)>;
void setSink(Sink sink);
bool hasSink();

} // namespace orbitune::log

Q_DECLARE_LOGGING_CATEGORY(lcGeneral)  // orbitune
Q_DECLARE_LOGGING_CATEGORY(lcBase)     // orbitune.base
Q_DECLARE_LOGGING_CATEGORY(lcMedia)    // orbitune.media
Q_DECLARE_LOGGING_CATEGORY(lcNet)      // orbitune.net
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)  // orbitune.desktop
Q_DECLARE_LOGGING_CATEGORY(lcStore)    // orbitune.store
Q_DECLARE_LOGGING_CATEGORY(lcSession)  // orbitune.session
Q_DECLARE_LOGGING_CATEGORY(lcHistory)  // orbitune.history
Q_DECLARE_LOGGING_CATEGORY(lcRecord)   // orbitune.record
Q_DECLARE_LOGGING_CATEGORY(lcScrobble) // orbitune.scrobble
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)   // orbitune.player
Q_DECLARE_LOGGING_CATEGORY(lcManage)   // orbitune.manage
Q_DECLARE_LOGGING_CATEGORY(lcFind)     // orbitune.find

Q_DECLARE_LOGGING_CATEGORY(lcSchedule) // orbitune.schedule

template <typename... Args> void NSLog(const char *fmt, const Args &...args)
{
    orbitune::log::write(orbitune::log::format(fmt, {QVariant::fromValue(args)...}));
}

template <typename... Args>
void NSLog(const QLoggingCategory &category, QtMsgType type, const char *fmt, const Args &...args)
{
    // Formatting costs more than the check: a line nobody reads is not made,
    // unless a test is listening.
    if (!category.isEnabled(type) && !orbitune::log::hasSink())
        return;
    orbitune::log::write(category, type,
                         orbitune::log::format(fmt, {QVariant::fromValue(args)...}));
}
