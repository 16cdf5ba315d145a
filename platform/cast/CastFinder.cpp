#include "platform/cast/CastFinder.h"

#include "platform/base/Clock.h"
#include "platform/base/Settings.h"
#include "platform/cast/CastLog.h"

#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <QHostAddress>

#include <algorithm>

namespace {
const char *const kServiceType = "_googlecast._tcp";
constexpr int kMaxText = 128;

// A TXT entry's value ("key=value"), empty when it is missing.
QString textValue(AvahiStringList *txt, const char *key)
{
    AvahiStringList *entry = avahi_string_list_find(txt, key);
    char *name = nullptr;
    char *value = nullptr;
    if (!entry || avahi_string_list_get_pair(entry, &name, &value, nullptr) < 0)
        return QString();
    const QString text = QString::fromUtf8(value ? value : "").left(kMaxText);
    avahi_free(name);
    avahi_free(value);
    return text;
}

QString serviceKey(AvahiIfIndex interface, const char *name)
{
    return QString::number(interface) + QLatin1Char('/') + QString::fromUtf8(name).left(kMaxText);
}
} // namespace

CastFinder::CastFinder(QObject *parent) : QObject(parent)
{
    QString addresses = settings::open()->value(kSettingsKey).toString();
    const QString fromEnvironment = qEnvironmentVariable("ORBITUNE_CAST_DEVICES");
    if (!fromEnvironment.isEmpty())
        addresses += QLatin1Char(',') + fromEnvironment;
    for (const CastDeviceInfo &info : parseAddresses(addresses))
        m_manual.emplace(info.id, info);
    startBrowsing();
}

CastFinder::~CastFinder()
{
    // Frees the browser and the resolvers under way with it.
    if (m_client)
        avahi_client_free(m_client);
}

QList<CastDeviceInfo> CastFinder::parseAddresses(const QString &list)
{
    QList<CastDeviceInfo> devices;
    const QStringList entries = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < std::min<qsizetype>(entries.size(), kMaxDevices); ++i) {
        const QString entry = entries.at(i).trimmed();
        QString host = entry;
        QString port;
        // An IPv6 address is written [address]:port.
        if (entry.startsWith(QLatin1Char('['))) {
            const qsizetype close = entry.indexOf(QLatin1Char(']'));
            host = entry.mid(1, close - 1);
            if (close < 0 || (close + 1 < entry.size() && entry.at(close + 1) != QLatin1Char(':')))
                continue;
            port = entry.mid(close + 2);
        } else if (const qsizetype colon = entry.indexOf(QLatin1Char(':')); colon >= 0) {
            host = entry.left(colon);
            port = entry.mid(colon + 1);
        }
        bool ok = true;
        const quint16 number = port.isEmpty() ? 8009 : port.toUShort(&ok);
        // Addresses only: a name would have to be looked up, and the
        // address facing the device known, before it could be played on.
        if (!ok || number == 0 || QHostAddress(host).isNull())
            continue;
        CastDeviceInfo info;
        info.host = host;
        info.port = number;
        info.id = host + QLatin1Char(':') + QString::number(number);
        info.name = host;
        devices << info;
    }
    return devices;
}

QList<CastDeviceInfo> CastFinder::devices() const
{
    QList<CastDeviceInfo> all;
    for (const auto &[id, info] : m_manual)
        all << info;
    for (const auto &[service, info] : m_announced)
        if (!m_manual.count(info.id))
            all << info;
    std::sort(all.begin(), all.end(), [](const CastDeviceInfo &a, const CastDeviceInfo &b) {
        return a.name.localeAwareCompare(b.name) < 0;
    });
    return all;
}

const CastDeviceInfo *CastFinder::device(const QString &id) const
{
    if (const auto it = m_manual.find(id); it != m_manual.end())
        return &it->second;
    for (const auto &[service, info] : m_announced)
        if (info.id == id)
            return &info;
    return nullptr;
}

void CastFinder::startBrowsing()
{
    m_poll = std::make_unique<AvahiQtPoll>();
    int error = 0;
    // Waits for a daemon that is not running yet, or comes back.
    m_client =
        avahi_client_new(m_poll->api(), AVAHI_CLIENT_NO_FAIL, &CastFinder::onClient, this, &error);
    if (!m_client)
        NSLog(lcGoogleCast(), QtWarningMsg, "no multicast DNS: %@",
              QString::fromUtf8(avahi_strerror(error)));
}

void CastFinder::onClient(AvahiClient *client, AvahiClientState state, void *self)
{
    auto *finder = static_cast<CastFinder *>(self);
    if (state == AVAHI_CLIENT_S_RUNNING && !finder->m_browser) {
        finder->m_browser =
            avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, kServiceType,
                                      nullptr, AvahiLookupFlags(0), &CastFinder::onBrowse, finder);
        if (!finder->m_browser)
            NSLog(lcGoogleCast(), QtWarningMsg, "cannot browse for Cast devices: %@",
                  QString::fromUtf8(avahi_strerror(avahi_client_errno(client))));
    } else if (state == AVAHI_CLIENT_FAILURE || state == AVAHI_CLIENT_CONNECTING) {
        // The daemon went: its browser and what it found go with it.
        if (finder->m_browser) {
            avahi_service_browser_free(finder->m_browser);
            finder->m_browser = nullptr;
        }
        const auto announced = std::exchange(finder->m_announced, {});
        for (const auto &[service, info] : announced)
            Q_EMIT finder->deviceGone(info.id);
        if (!announced.empty())
            Q_EMIT finder->devicesChanged();
    }
}

void CastFinder::onBrowse(AvahiServiceBrowser *browser, AvahiIfIndex interface,
                          AvahiProtocol protocol, AvahiBrowserEvent event, const char *name,
                          const char *type, const char *domain, AvahiLookupResultFlags, void *self)
{
    auto *finder = static_cast<CastFinder *>(self);
    if (event == AVAHI_BROWSER_REMOVE) {
        finder->removed(serviceKey(interface, name));
        return;
    }
    if (event != AVAHI_BROWSER_NEW || finder->m_announced.count(serviceKey(interface, name)) ||
        !finder->admit())
        return;
    if (avahi_service_resolver_new(avahi_service_browser_get_client(browser), interface, protocol,
                                   name, type, domain, AVAHI_PROTO_INET, AvahiLookupFlags(0),
                                   &CastFinder::onResolve, finder))
        ++finder->m_resolving;
}

// Whether a new device may be looked at now: a few at a time, a few each
// window, and only while there is room.
bool CastFinder::admit()
{
    const qint64 now = Clock::shared()->steadyMs();
    while (!m_arrivals.empty() && now - m_arrivals.front() > kArrivalWindowMs)
        m_arrivals.pop_front();
    if (m_resolving >= kMaxResolving || m_arrivals.size() >= kMaxArrivals ||
        m_announced.size() + m_manual.size() >= kMaxDevices)
        return false;
    m_arrivals.push_back(now);
    return true;
}

void CastFinder::onResolve(AvahiServiceResolver *resolver, AvahiIfIndex interface, AvahiProtocol,
                           AvahiResolverEvent event, const char *name, const char *, const char *,
                           const char *, const AvahiAddress *address, uint16_t port,
                           AvahiStringList *txt, AvahiLookupResultFlags, void *self)
{
    auto *finder = static_cast<CastFinder *>(self);
    --finder->m_resolving;
    if (event == AVAHI_RESOLVER_FOUND && address && port != 0) {
        char text[AVAHI_ADDRESS_STR_MAX];
        avahi_address_snprint(text, sizeof text, address);
        CastDeviceInfo info;
        info.host = QString::fromLatin1(text);
        info.port = port;
        info.id = textValue(txt, "id");
        info.name = textValue(txt, "fn");
        info.model = textValue(txt, "md");
        if (info.id.isEmpty())
            info.id = info.host + QLatin1Char(':') + QString::number(port);
        if (info.name.isEmpty())
            info.name = QString::fromUtf8(name).left(kMaxText);
        finder->found(serviceKey(interface, name), info);
    }
    avahi_service_resolver_free(resolver);
}

void CastFinder::found(const QString &service, const CastDeviceInfo &info)
{
    if (m_announced.size() + m_manual.size() >= kMaxDevices)
        return;
    NSLog(lcGoogleCast(), QtInfoMsg, "found %@ (%@) at %@:%ld", info.name, info.model, info.host,
          qint64(info.port));
    m_announced[service] = info;
    Q_EMIT devicesChanged();
}

void CastFinder::removed(const QString &service)
{
    const auto it = m_announced.find(service);
    if (it == m_announced.end())
        return;
    const QString id = it->second.id;
    m_announced.erase(it);
    Q_EMIT deviceGone(id);
    Q_EMIT devicesChanged();
}
