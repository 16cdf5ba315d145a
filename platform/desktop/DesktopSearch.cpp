#include "platform/desktop/DesktopSearch.h"

#include "platform/base/Log.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QVariantMap>

// KRunner's structures on the wire: a match (sssida{sv}), an action (sss)
// and a picture (iiibiiay).
struct RunnerMatchWire {
    QString id;
    QString text;
    QString iconName;
    int type = 0;
    double relevance = 0;
    QVariantMap properties;
};
struct RunnerActionWire {
    QString id;
    QString text;
    QString iconName;
};
struct RunnerImageWire {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};
Q_DECLARE_METATYPE(RunnerMatchWire)
Q_DECLARE_METATYPE(RunnerActionWire)
Q_DECLARE_METATYPE(RunnerImageWire)

QDBusArgument &operator<<(QDBusArgument &arg, const RunnerMatchWire &m)
{
    arg.beginStructure();
    arg << m.id << m.text << m.iconName << m.type << m.relevance << m.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, RunnerMatchWire &m)
{
    arg.beginStructure();
    arg >> m.id >> m.text >> m.iconName >> m.type >> m.relevance >> m.properties;
    arg.endStructure();
    return arg;
}
QDBusArgument &operator<<(QDBusArgument &arg, const RunnerActionWire &a)
{
    arg.beginStructure();
    arg << a.id << a.text << a.iconName;
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, RunnerActionWire &a)
{
    arg.beginStructure();
    arg >> a.id >> a.text >> a.iconName;
    arg.endStructure();
    return arg;
}
QDBusArgument &operator<<(QDBusArgument &arg, const RunnerImageWire &i)
{
    arg.beginStructure();
    arg << i.width << i.height << i.rowStride << i.hasAlpha << i.bitsPerSample << i.channels
        << i.data;
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, RunnerImageWire &i)
{
    arg.beginStructure();
    arg >> i.width >> i.height >> i.rowStride >> i.hasAlpha >> i.bitsPerSample >> i.channels >>
        i.data;
    arg.endStructure();
    return arg;
}

namespace {

const QString AppIcon = QStringLiteral("orbitune");
// KRunner's match types.
constexpr int kPossibleMatch = 30;
constexpr int kExactMatch = 100;
constexpr int kIconSize = 64;

// What the handler is asked to search for; nothing for a search longer than
// anyone types.
QList<DesktopSearch::Result> search(const DesktopSearch *service, const QStringList &terms)
{
    qsizetype length = 0;
    for (const QString &term : terms)
        length += term.size();
    if (terms.size() > DesktopSearch::kMaxTerms || length > DesktopSearch::kMaxQueryLength)
        return {};
    return service->handlers().search(terms);
}

// org.gnome.Shell.SearchProvider2: the shell asks for ids, then for what to
// show of them, and says which one was chosen.
class ShellSearchAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.SearchProvider2")

public:
    ShellSearchAdaptor(QObject *object, const DesktopSearch *search)
        : QDBusAbstractAdaptor(object), m_search(search)
    {
    }

public Q_SLOTS:
    QStringList GetInitialResultSet(const QStringList &terms) { return ids(terms); }
    QStringList GetSubsearchResultSet(const QStringList &previous, const QStringList &terms)
    {
        // Narrowing a search: only what was found before can still match.
        const QSet<QString> before(previous.cbegin(), previous.cend());
        QStringList out;
        for (const QString &id : ids(terms)) {
            if (before.contains(id))
                out << id;
        }
        return out;
    }
    QList<QVariantMap> GetResultMetas(const QStringList &identifiers)
    {
        // Each asked for once, whatever the request repeats.
        QStringList ids = identifiers;
        ids.removeDuplicates();
        QList<QVariantMap> metas;
        for (const DesktopSearch::Result &r : m_search->handlers().describe(ids)) {
            QVariantMap meta;
            meta.insert(QStringLiteral("id"), r.id);
            meta.insert(QStringLiteral("name"), r.name);
            if (!r.description.isEmpty())
                meta.insert(QStringLiteral("description"), r.description);
            // A serialised GIcon: a file's path, or a themed icon's name.
            meta.insert(QStringLiteral("gicon"), r.pictureFile.isEmpty() ? AppIcon : r.pictureFile);
            metas << meta;
        }
        return metas;
    }
    void ActivateResult(const QString &identifier, const QStringList &terms, uint timestamp)
    {
        Q_UNUSED(terms)
        Q_UNUSED(timestamp)
        m_search->handlers().activate(identifier);
    }
    void LaunchSearch(const QStringList &terms, uint timestamp)
    {
        Q_UNUSED(timestamp)
        m_search->handlers().launch(terms);
    }

private:
    QStringList ids(const QStringList &terms) const
    {
        QStringList out;
        for (const DesktopSearch::Result &r : search(m_search, terms))
            out << r.id;
        return out;
    }

    const DesktopSearch *m_search;
};

RunnerImageWire iconData(const QString &file)
{
    // Read at icon size: a picture may be a large file of the listener's.
    QImageReader reader(file);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kIconSize || size.height() > kIconSize))
        reader.setScaledSize(size.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    image = image.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGBA8888);
    RunnerImageWire wire;
    wire.width = image.width();
    wire.height = image.height();
    wire.rowStride = int(image.bytesPerLine());
    wire.data = QByteArray(reinterpret_cast<const char *>(image.constBits()),
                           qsizetype(image.sizeInBytes()));
    return wire;
}

// org.kde.krunner1: KRunner sends the whole query and shows the matches with
// their picture; Run plays the chosen one.
class RunnerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.krunner1")

public:
    RunnerAdaptor(QObject *object, const DesktopSearch *search)
        : QDBusAbstractAdaptor(object), m_search(search)
    {
    }

public Q_SLOTS:
    QList<RunnerActionWire> Actions() { return {}; }
    QList<RunnerMatchWire> Match(const QString &query)
    {
        const QStringList terms = query.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QList<RunnerMatchWire> matches;
        if (terms.isEmpty())
            return matches;
        const QList<DesktopSearch::Result> results = search(m_search, terms);
        for (const DesktopSearch::Result &r : results) {
            if (matches.size() == DesktopSearch::kMaxResults)
                break;
            RunnerMatchWire m;
            m.id = r.id;
            m.text = r.name;
            m.iconName = AppIcon;
            const bool exact = r.name.compare(query.simplified(), Qt::CaseInsensitive) == 0;
            m.type = exact ? kExactMatch : kPossibleMatch;
            // Best first, every one above KRunner's usual floor.
            m.relevance = exact ? 1.0 : 0.9 - 0.5 * double(matches.size()) / results.size();
            if (!r.description.isEmpty())
                m.properties.insert(QStringLiteral("subtext"), r.description);
            if (!r.pictureFile.isEmpty()) {
                const RunnerImageWire icon = iconData(r.pictureFile);
                if (icon.width > 0)
                    m.properties.insert(QStringLiteral("icon-data"), QVariant::fromValue(icon));
            }
            matches << m;
        }
        return matches;
    }
    void Run(const QString &matchId, const QString &actionId)
    {
        Q_UNUSED(actionId)
        m_search->handlers().activate(matchId);
    }
    void Teardown() {}

private:
    const DesktopSearch *m_search;
};

} // namespace

DesktopSearch::DesktopSearch(Handlers handlers, QObject *parent)
    : DesktopSearch(QDBusConnection::sessionBus(), std::move(handlers), parent)
{
}

DesktopSearch::DesktopSearch(const QDBusConnection &bus, Handlers handlers, QObject *parent)
    : QObject(parent), m_bus(bus), m_handlers(std::move(handlers)), m_shell(new QObject(this)),
      m_runner(new QObject(this))
{
    // A handler left out answers nothing.
    if (!m_handlers.search)
        m_handlers.search = [](const QStringList &) { return QList<Result>(); };
    if (!m_handlers.describe)
        m_handlers.describe = [](const QStringList &) { return QList<Result>(); };
    if (!m_handlers.activate)
        m_handlers.activate = [](const QString &) {};
    if (!m_handlers.launch)
        m_handlers.launch = [](const QStringList &) {};
    qDBusRegisterMetaType<RunnerMatchWire>();
    qDBusRegisterMetaType<QList<RunnerMatchWire>>();
    qDBusRegisterMetaType<RunnerActionWire>();
    qDBusRegisterMetaType<QList<RunnerActionWire>>();
    qDBusRegisterMetaType<RunnerImageWire>();
    qDBusRegisterMetaType<QList<QVariantMap>>();
    new ShellSearchAdaptor(m_shell, this);
    new RunnerAdaptor(m_runner, this);
}

DesktopSearch::~DesktopSearch()
{
    stop();
}

bool DesktopSearch::start()
{
    if (m_registered)
        return true;
    if (!m_bus.isConnected()) {
        NSLog(lcDesktop(), QtInfoMsg, "Desktop search: no D-Bus session bus");
        return false;
    }
    const QString shell = QLatin1String(ShellPath);
    const QString runner = QLatin1String(RunnerPath);
    if (!m_bus.registerObject(shell, m_shell, QDBusConnection::ExportAdaptors) ||
        !m_bus.registerObject(runner, m_runner, QDBusConnection::ExportAdaptors) ||
        !m_bus.registerService(QLatin1String(ServiceName))) {
        NSLog(lcDesktop(), QtWarningMsg, "Desktop search: cannot offer %@ (%@)",
              QString::fromLatin1(ServiceName), m_bus.lastError().message());
        m_bus.unregisterObject(shell);
        m_bus.unregisterObject(runner);
        return false;
    }
    m_registered = true;
    return true;
}

void DesktopSearch::stop()
{
    if (!m_registered)
        return;
    m_bus.unregisterService(QLatin1String(ServiceName));
    m_bus.unregisterObject(QLatin1String(ShellPath));
    m_bus.unregisterObject(QLatin1String(RunnerPath));
    m_registered = false;
}

#include "DesktopSearch.moc"

#include "moc_DesktopSearch.cpp"
