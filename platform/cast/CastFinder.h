#pragma once

#include "platform/cast/AvahiQtPoll.h"
#include "platform/cast/CastDeviceInfo.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>

#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <map>
#include <memory>

// Keeps the list of the Cast devices on the local network current: those
// announced by multicast DNS (`_googlecast._tcp`, through the Avahi daemon;
// the name, model and id from their TXT record, their own port), and those
// given by hand for networks without it (the settings' "cast/devices" and
// ORBITUNE_CAST_DEVICES, "address:port,address:port"). What the network says is
// bounded: the devices kept, the resolutions under way and the rate of new
// ones.
class CastFinder : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxDevices = 32;
    static constexpr std::size_t kMaxResolving = 8;
    static constexpr std::size_t kMaxArrivals = 8;
    static constexpr qint64 kArrivalWindowMs = 10000;
    static inline const QString kSettingsKey = QStringLiteral("cast/devices");

    explicit CastFinder(QObject *parent = nullptr);
    ~CastFinder() override;

    // By name.
    QList<CastDeviceInfo> devices() const;
    // Null when `id` is not listed.
    const CastDeviceInfo *device(const QString &id) const;

    // "address:port,[IPv6 address]:port" (the port 8009 if left out);
    // malformed entries and host names are left out.
    static QList<CastDeviceInfo> parseAddresses(const QString &list);

Q_SIGNALS:
    void devicesChanged();
    void deviceGone(const QString &id);

private:
    void startBrowsing();
    void found(const QString &service, const CastDeviceInfo &info);
    void removed(const QString &service);
    bool admit();

    static void onClient(AvahiClient *client, AvahiClientState state, void *self);
    static void onBrowse(AvahiServiceBrowser *browser, AvahiIfIndex interface,
                         AvahiProtocol protocol, AvahiBrowserEvent event, const char *name,
                         const char *type, const char *domain, AvahiLookupResultFlags flags,
                         void *self);
    static void onResolve(AvahiServiceResolver *resolver, AvahiIfIndex interface,
                          AvahiProtocol protocol, AvahiResolverEvent event, const char *name,
                          const char *type, const char *domain, const char *host,
                          const AvahiAddress *address, uint16_t port, AvahiStringList *txt,
                          AvahiLookupResultFlags flags, void *self);

    std::map<QString, CastDeviceInfo> m_manual;
    // Announced devices by their service (interface and instance name).
    std::map<QString, CastDeviceInfo> m_announced;
    std::size_t m_resolving = 0;
    std::deque<qint64> m_arrivals;
    std::unique_ptr<AvahiQtPoll> m_poll;
    AvahiClient *m_client = nullptr;
    AvahiServiceBrowser *m_browser = nullptr;
};
