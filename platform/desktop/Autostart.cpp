#include "platform/desktop/Autostart.h"

#include "platform/base/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace autostart {

namespace {

QString quoted(const QString &argument)
{
    static const QString plain =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=+,:@");
    const bool needsQuotes =
        argument.isEmpty() ||
        std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return !plain.contains(c); });
    QString escaped;
    for (const QChar c : argument) {
        // Inside quotes, these four take a backslash; '%' is doubled anyway.
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
        if (c == QLatin1Char('%'))
            escaped += QLatin1Char('%');
    }
    return needsQuotes ? QLatin1Char('"') + escaped + QLatin1Char('"') : escaped;
}

QString desktopName()
{
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("orbitune") : name;
}

} // namespace

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + desktopName() + QStringLiteral(".desktop");
}

QString execLine(const QString &program, const QStringList &arguments)
{
    QStringList parts{quoted(program)};
    for (const QString &a : arguments)
        parts << quoted(a);
    // The line is also a string value of the entry file, whose own escaping
    // is undone first: each backslash of the quoting is written twice.
    return parts.join(QLatin1Char(' ')).replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

bool isEnabled()
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.read(64 * 1024);
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}

bool setEnabled(bool enabled, const QString &program, const QStringList &arguments)
{
    const QString path = entryPath();
    if (!enabled) {
        if (!QFileInfo::exists(path) || QFile::remove(path))
            return true;
        NSLog(lcDesktop(), QtWarningMsg, "Cannot remove the autostart entry %@", path);
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Orbitune\n"
                                            "Comment=Internet radio, waiting in the tray\n"
                                            "Icon=orbitune\n"
                                            "Exec=%1\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(execLine(program, arguments))
                                 .toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(entry) == entry.size() && file.commit())
        return true;
    NSLog(lcDesktop(), QtWarningMsg, "Cannot write the autostart entry %@ (%@)", path,
          file.errorString());
    return false;
}

} // namespace autostart
