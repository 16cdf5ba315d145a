#pragma once

#include "platform/base/Log.h"

#include <QStringList>

// Keeps every log line written while it lives (the text without the prefix).
class LogRecorder {
public:
    LogRecorder()
    {
        orbitune::log::setSink([this](const QString &line) { lines << line; });
    }
    ~LogRecorder() { orbitune::log::setSink({}); }
    int count(const QString &line) const { return int(lines.count(line)); }
    // Whether any line contains `part`.
    bool contains(const QString &part) const { return !lines.filter(part).isEmpty(); }
    // Lines other than the store's own.
    QStringList events() const
    {
        QStringList out;
        for (const QString &l : lines) {
            if (!l.startsWith(QLatin1String("filePath:")) &&
                !l.startsWith(QLatin1String("dataDic:")))
                out << l;
        }
        return out;
    }
    // Events other than the pointer passing over rows (a click moves the
    // pointer onto its row first).
    QStringList actions() const
    {
        QStringList out;
        for (const QString &l : events()) {
            if (!l.startsWith(QStringLiteral("鼠标")))
                out << l;
        }
        return out;
    }
    QStringList lines;
};
