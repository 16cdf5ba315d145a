#include "platform/base/Log.h"

#include "platform/base/Clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QMutex>

#include <cstdio>
#include <syslog.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcGeneral, "orbitune", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBase, "orbitune.base", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMedia, "orbitune.media", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNet, "orbitune.net", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDesktop, "orbitune.desktop", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "orbitune.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "orbitune.session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHistory, "orbitune.history", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRecord, "orbitune.record", QtInfoMsg)
Q_LOGGING_CATEGORY(lcScrobble, "orbitune.scrobble", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSchedule, "orbitune.schedule", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlayer, "orbitune.player", QtInfoMsg)
Q_LOGGING_CATEGORY(lcManage, "orbitune.manage", QtInfoMsg)
Q_LOGGING_CATEGORY(lcFind, "orbitune.find", QtInfoMsg)

namespace orbitune::log {
namespace {

int syslogPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return LOG_DEBUG;
    case QtInfoMsg: return LOG_INFO;
    case QtWarningMsg: return LOG_WARNING;
    case QtCriticalMsg: return LOG_ERR;
    case QtFatalMsg: return LOG_CRIT;
    }
    return LOG_NOTICE;
}

QMutex sinkMutex;
Sink &sinkSlot()
{
    static Sink sink;
    return sink;
}

QString processName()
{
    static const QString name = [] {
        QString n = QCoreApplication::applicationName();
        if (n.isEmpty())
            n = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        return n.isEmpty() ? QStringLiteral("orbitune") : n;
    }();
    return name;
}

QString quoteIfNeeded(const QString &s)
{
    static const QString plain =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.$");
    bool needs = s.isEmpty();
    for (QChar c : s) {
        if (!plain.contains(c) && c.unicode() < 0x80) {
            needs = true;
            break;
        }
    }
    if (!needs)
        return s;
    QString out = s;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    out.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

// Log lines stay readable and cheap whatever a file holds: deep values are
// elided and a line stops growing at a fixed length.
constexpr int kMaxDescribeDepth = 16;
constexpr qsizetype kMaxDescribeLength = 64 * 1024;

void describeNested(const QVariant &value, int indent, QString &out)
{
    if (out.size() > kMaxDescribeLength)
        return;
    const QString pad(indent * 4, QLatin1Char(' '));
    const QString inner((indent + 1) * 4, QLatin1Char(' '));
    const int type = value.metaType().id();
    if ((type == QMetaType::QVariantMap || type == QMetaType::QVariantList) &&
        indent >= kMaxDescribeDepth) {
        out += QStringLiteral("...");
        return;
    }
    switch (type) {
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        out += QStringLiteral("{\n");
        for (auto it = map.cbegin(); it != map.cend() && out.size() <= kMaxDescribeLength; ++it) {
            out += inner + quoteIfNeeded(it.key()) + QStringLiteral(" = ");
            describeNested(it.value(), indent + 1, out);
            out += QStringLiteral(";\n");
        }
        out += pad + QLatin1Char('}');
        return;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        out += QStringLiteral("(\n");
        for (int i = 0; i < list.size() && out.size() <= kMaxDescribeLength; ++i) {
            out += inner;
            describeNested(list.at(i), indent + 1, out);
            out += i + 1 < list.size() ? QStringLiteral(",\n") : QStringLiteral("\n");
        }
        out += pad + QLatin1Char(')');
        return;
    }
    case QMetaType::QString:
        out += indent == 0 ? value.toString() : quoteIfNeeded(value.toString());
        return;
    case QMetaType::QByteArray:
        out += QLatin1Char('<') + QString::fromLatin1(value.toByteArray().left(4096).toHex()) +
               QLatin1Char('>');
        return;
    case QMetaType::Bool: out += value.toBool() ? QStringLiteral("1") : QStringLiteral("0"); return;
    case QMetaType::QDateTime:
        out += value.toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
        return;
    case QMetaType::UnknownType: out += QStringLiteral("(null)"); return;
    default: out += value.toString(); return;
    }
}

} // namespace

QString describe(const QVariant &value)
{
    QString out;
    describeNested(value, 0, out);
    if (out.size() > kMaxDescribeLength) {
        out.truncate(kMaxDescribeLength);
        out += QStringLiteral("...");
    }
    return out;
}

QString format(const char *fmt, std::initializer_list<QVariant> args)
{
    const QString f = QString::fromUtf8(fmt);
    QString out;
    out.reserve(f.size() + 16);
    auto next = args.begin();
    for (qsizetype i = 0; i < f.size(); ++i) {
        const QChar c = f.at(i);
        if (c != QLatin1Char('%') || i + 1 >= f.size()) {
            out += c;
            continue;
        }
        // Accept %@, %d, %ld, %lld, %lu, %s and %%.
        qsizetype j = i + 1;
        while (j < f.size() && f.at(j) == QLatin1Char('l'))
            ++j;
        if (j >= f.size()) {
            out += c;
            continue;
        }
        const QChar conv = f.at(j);
        if (conv == QLatin1Char('%')) {
            out += QLatin1Char('%');
        } else if (conv == QLatin1Char('@') || conv == QLatin1Char('s')) {
            out += next != args.end() ? describe(*next++) : QStringLiteral("(null)");
        } else if (conv == QLatin1Char('d') || conv == QLatin1Char('i') ||
                   conv == QLatin1Char('u')) {
            out += next != args.end() ? QString::number(next++->toLongLong()) : QString();
        } else {
            out += f.mid(i, j - i + 1);
        }
        i = j;
    }
    return out;
}

void setSink(Sink sink)
{
    QMutexLocker lock(&sinkMutex);
    sinkSlot() = std::move(sink);
}

bool hasSink()
{
    QMutexLocker lock(&sinkMutex);
    return bool(sinkSlot());
}

void write(const QString &line)
{
    write(lcGeneral(), QtInfoMsg, line);
}

void write(const QLoggingCategory &category, QtMsgType type, const QString &line)
{
    {
        // Tests hear every line, whatever the categories let through.
        QMutexLocker lock(&sinkMutex);
        if (sinkSlot())
            sinkSlot()(line);
    }
    if (!category.isEnabled(type))
        return;
    const QByteArray text = line.toUtf8();
    const QByteArray stamp = Clock::shared()
                                 ->currentDateTimeUtc()
                                 .toLocalTime()
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                                 .toUtf8();
    std::fprintf(stderr, "%s %s[%d:%lx] %s\n", stamp.constData(),
                 processName().toUtf8().constData(), int(getpid()),
                 static_cast<unsigned long>(gettid()), text.constData());
    std::fflush(stderr);
    static const bool toJournal = qEnvironmentVariableIsEmpty("ORBITUNE_NO_SYSLOG");
    if (toJournal) {
        static const QByteArray ident = processName().toUtf8();
        static bool opened = false;
        if (!opened) {
            openlog(ident.constData(), LOG_PID, LOG_USER);
            opened = true;
        }
        syslog(syslogPriority(type), "%s", text.constData());
    }
}

} // namespace orbitune::log
