#include "find/ServerDiscovery.h"

#include <QDnsLookup>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString hostName(QString name)
{
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name.toLower();
}

QUrl httpsBase(const QString &host, quint16 port = 443)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    if (port != 443)
        url.setPort(port);
    return url;
}

} // namespace

ServerDiscovery::ServerDiscovery(QObject *parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        // Whatever names arrived so far are good enough.
        if (!m_named.isEmpty())
            finish(m_named);
        else
            fail(QStringLiteral("The station directory could not be found in time (no network "
                                "or no name service?)."));
    });
}

QList<QUrl> ServerDiscovery::fromEnvironment()
{
    QList<QUrl> servers;
    const QString value = qEnvironmentVariable("ORBITUNE_DIRECTORY_URL");
    for (const QString &part :
         value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
        const QUrl url(part, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && !url.host().isEmpty() &&
            (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
            servers << (url.path() == QLatin1String("/") ? url.adjusted(QUrl::RemovePath)
                                                         : url.adjusted(QUrl::StripTrailingSlash));
    }
    return servers;
}

QString ServerDiscovery::reverseName(const QString &ipv4)
{
    QStringList parts = ipv4.split(QLatin1Char('.'));
    std::reverse(parts.begin(), parts.end());
    return parts.join(QLatin1Char('.')) + QStringLiteral(".in-addr.arpa");
}

void ServerDiscovery::start(int timeoutMs)
{
    cancel();
    m_running = true;
    m_deadline.start(timeoutMs);
    auto *srv = new QDnsLookup(QDnsLookup::SRV, kSrvName, this);
    m_lookups << srv;
    connect(srv, &QDnsLookup::finished, this, &ServerDiscovery::srvDone);
    srv->lookup();
}

void ServerDiscovery::cancel()
{
    m_running = false;
    m_deadline.stop();
    clear();
}

void ServerDiscovery::clear()
{
    for (const QPointer<QDnsLookup> &lookup : std::as_const(m_lookups)) {
        if (lookup) {
            lookup->disconnect(this);
            lookup->abort();
            lookup->deleteLater();
        }
    }
    m_lookups.clear();
    m_named.clear();
    m_namesPending = 0;
}

void ServerDiscovery::srvDone()
{
    auto *lookup = qobject_cast<QDnsLookup *>(sender());
    QList<QUrl> servers;
    if (lookup && lookup->error() == QDnsLookup::NoError) {
        for (const QDnsServiceRecord &record : lookup->serviceRecords()) {
            const QUrl url = httpsBase(hostName(record.target()), record.port());
            if (!record.target().isEmpty() && !servers.contains(url))
                servers << url;
        }
    }
    if (!servers.isEmpty()) {
        finish(servers);
        return;
    }
    auto *addresses = new QDnsLookup(QDnsLookup::A, kAllName, this);
    m_lookups << addresses;
    connect(addresses, &QDnsLookup::finished, this, &ServerDiscovery::addressesDone);
    addresses->lookup();
}

void ServerDiscovery::addressesDone()
{
    auto *lookup = qobject_cast<QDnsLookup *>(sender());
    if (!lookup || lookup->error() != QDnsLookup::NoError ||
        lookup->hostAddressRecords().isEmpty()) {
        fail(QStringLiteral("The station directory could not be found (no network or no name "
                            "service?)."));
        return;
    }
    for (const QDnsHostAddressRecord &record : lookup->hostAddressRecords()) {
        auto *name = new QDnsLookup(QDnsLookup::PTR, reverseName(record.value().toString()), this);
        m_lookups << name;
        ++m_namesPending;
        connect(name, &QDnsLookup::finished, this, [this, name] { nameDone(name); });
        name->lookup();
    }
}

void ServerDiscovery::nameDone(QDnsLookup *lookup)
{
    if (lookup->error() == QDnsLookup::NoError) {
        for (const QDnsDomainNameRecord &record : lookup->pointerRecords()) {
            const QUrl url = httpsBase(hostName(record.value()));
            if (!record.value().isEmpty() && !m_named.contains(url))
                m_named << url;
        }
    }
    if (--m_namesPending > 0)
        return;
    if (m_named.isEmpty())
        fail(QStringLiteral("The station directory's servers could not be named."));
    else
        finish(m_named);
}

void ServerDiscovery::finish(QList<QUrl> servers)
{
    if (!m_running)
        return;
    std::shuffle(servers.begin(), servers.end(), *QRandomGenerator::global());
    cancel();
    Q_EMIT found(servers);
}

void ServerDiscovery::fail(const QString &message)
{
    if (!m_running)
        return;
    cancel();
    Q_EMIT failed(message);
}

#include "moc_ServerDiscovery.cpp"
