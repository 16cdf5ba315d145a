#include "scrobble/ScrobbleAccounts.h"

#include "scrobble/LastFmClient.h"
#include "scrobble/ListenBrainzClient.h"
#include "scrobble/ScrobbleTracker.h"
#include "scrobble/Scrobbler.h"
#include "scrobble/SecretStore.h"

#include "platform/base/Settings.h"
#include "platform/base/WebAddress.h"

#include <QSettings>

namespace {

QString userKey(const QString &service)
{
    return QStringLiteral("scrobbling/%1-user").arg(service);
}

const QString kAddressKey = QStringLiteral("scrobbling/listenbrainz-address");
const QString kExcludedKey = QStringLiteral("scrobbling/excluded");
const QString kLovesKey = QStringLiteral("scrobbling/send-loves");

} // namespace

ScrobbleAccounts::ScrobbleAccounts(Scrobbler *scrobbler, QObject *parent)
    : QObject(parent), m_scrobbler(scrobbler), m_secrets(new SecretStore(this))
{
    const auto s = settings::open();
    const QStringList excluded = s->value(kExcludedKey).toStringList();
    m_excluded = QSet<QString>(excluded.begin(), excluded.end());
    m_scrobbler->tracker()->setExcluded(m_excluded);
}

ScrobbleAccounts::~ScrobbleAccounts() = default;

QUrl ScrobbleAccounts::lastFmRoot()
{
    const QString root = qEnvironmentVariable("ORBITUNE_LASTFM_ROOT");
    return QUrl(root.isEmpty() ? QString::fromLatin1(LastFmClient::kDefaultRoot) : root);
}

bool ScrobbleAccounts::lastFmAvailable()
{
    return LastFmClient::application().isValid();
}

QString ScrobbleAccounts::accountName(const QString &service) const
{
    return m_scrobbler->client(service) ? settings::open()->value(userKey(service)).toString()
                                        : QString();
}

QUrl ScrobbleAccounts::listenBrainzAddress() const
{
    return QUrl(settings::open()
                    ->value(kAddressKey, QString::fromLatin1(ListenBrainzClient::kDefaultAddress))
                    .toString());
}

void ScrobbleAccounts::setKeyringError(const QString &error)
{
    if (error == m_keyringError)
        return;
    m_keyringError = error;
    Q_EMIT keyringErrorChanged(error);
}

void ScrobbleAccounts::restore()
{
    const auto s = settings::open();
    const QUrl address = listenBrainzAddress();
    if (!s->value(userKey(QString::fromLatin1(ListenBrainzClient::kService))).toString().isEmpty())
        m_secrets->read(QString::fromLatin1(kListenBrainzSecret),
                        [this, address](bool ok, const QString &token, const QString &error) {
                            setKeyringError(ok ? QString() : error);
                            if (ok && !token.isEmpty()) {
                                m_scrobbler->connectService(new ListenBrainzClient(address, token));
                                Q_EMIT accountsChanged();
                            }
                        });
    const QString lastFmUser =
        s->value(userKey(QString::fromLatin1(LastFmClient::kService))).toString();
    if (!lastFmUser.isEmpty() && lastFmAvailable())
        m_secrets->read(QString::fromLatin1(kLastFmSecret),
                        [this, lastFmUser](bool ok, const QString &key, const QString &error) {
                            setKeyringError(ok ? QString() : error);
                            if (ok && !key.isEmpty())
                                connectLastFm(lastFmUser, key);
                        });
}

void ScrobbleAccounts::remember(const QString &service, const QString &user,
                                const QString &secretName, const QString &secret, Done done)
{
    const auto s = settings::open();
    s->setValue(userKey(service), user);
    m_secrets->write(
        secretName, secret,
        [this, done = std::move(done)](bool ok, const QString &, const QString &error) {
            setKeyringError(ok ? QString() : error);
            done(QString(), ok);
        });
    Q_EMIT accountsChanged();
}

void ScrobbleAccounts::connectListenBrainz(const QUrl &address, const QString &token, Done done)
{
    if (!isWebAddress(address)) {
        done(QStringLiteral("Not a web address: %1").arg(address.toString()), false);
        return;
    }
    auto *client = new ListenBrainzClient(address, token.trimmed(), this);
    client->validate([this, client, address, token, done = std::move(done)](
                         ScrobbleClient::Outcome outcome, const QString &user) {
        if (outcome != ScrobbleClient::Outcome::Accepted) {
            client->deleteLater();
            done(outcome == ScrobbleClient::Outcome::Refused
                     ? QStringLiteral("ListenBrainz did not accept the token.")
                     : QStringLiteral("ListenBrainz could not be reached."),
                 false);
            return;
        }
        settings::open()->setValue(kAddressKey, address.toString());
        m_scrobbler->connectService(client);
        remember(QString::fromLatin1(ListenBrainzClient::kService), user,
                 QString::fromLatin1(kListenBrainzSecret), token.trimmed(), done);
    });
}

void ScrobbleAccounts::beginLastFm(std::function<void(const QUrl &, const QString &)> done)
{
    if (!lastFmAvailable()) {
        done(QUrl(), QStringLiteral("Last.fm is not available in this build."));
        return;
    }
    delete m_pendingLastFm;
    m_pendingLastFm = new LastFmClient(lastFmRoot(), LastFmClient::application(), QString(), this);
    LastFmClient *client = m_pendingLastFm;
    client->requestToken([this, client, done = std::move(done)](ScrobbleClient::Outcome outcome,
                                                                const QString &token) {
        if (outcome != ScrobbleClient::Outcome::Accepted) {
            done(QUrl(), QStringLiteral("Last.fm could not be reached."));
            return;
        }
        m_lastFmToken = token;
        done(client->approvalPage(token), QString());
    });
}

void ScrobbleAccounts::finishLastFm(Done done)
{
    LastFmClient *client = m_pendingLastFm;
    if (!client || m_lastFmToken.isEmpty()) {
        done(QStringLiteral("Connect to Last.fm first."), false);
        return;
    }
    client->requestSession(m_lastFmToken,
                           [this, done = std::move(done)](ScrobbleClient::Outcome outcome,
                                                          const QString &user, const QString &key) {
                               if (outcome != ScrobbleClient::Outcome::Accepted) {
                                   done(outcome == ScrobbleClient::Outcome::Refused
                                            ? QStringLiteral("Last.fm has not been allowed yet.")
                                            : QStringLiteral("Last.fm could not be reached."),
                                        false);
                                   return;
                               }
                               m_pendingLastFm->deleteLater();
                               m_pendingLastFm = nullptr;
                               m_lastFmToken.clear();
                               connectLastFm(user, key);
                               remember(QString::fromLatin1(LastFmClient::kService), user,
                                        QString::fromLatin1(kLastFmSecret), key, done);
                           });
}

void ScrobbleAccounts::connectLastFm(const QString &user, const QString &key)
{
    Q_UNUSED(user);
    m_scrobbler->connectService(new LastFmClient(lastFmRoot(), LastFmClient::application(), key));
    Q_EMIT accountsChanged();
}

void ScrobbleAccounts::disconnectService(const QString &service)
{
    m_scrobbler->disconnectService(service);
    settings::open()->remove(userKey(service));
    m_secrets->remove(QString::fromLatin1(service == QLatin1String(LastFmClient::kService)
                                              ? kLastFmSecret
                                              : kListenBrainzSecret),
                      [this](bool ok, const QString &, const QString &error) {
                          setKeyringError(ok ? QString() : error);
                      });
    Q_EMIT accountsChanged();
}

void ScrobbleAccounts::setExcluded(const QString &stationUrl, bool excluded)
{
    if (stationUrl.isEmpty() || m_excluded.contains(stationUrl) == excluded)
        return;
    if (excluded)
        m_excluded.insert(stationUrl);
    else
        m_excluded.remove(stationUrl);
    QStringList list(m_excluded.begin(), m_excluded.end());
    list.sort();
    settings::open()->setValue(kExcludedKey, list);
    m_scrobbler->tracker()->setExcluded(m_excluded);
    Q_EMIT accountsChanged();
}

bool ScrobbleAccounts::sendsLoves() const
{
    return settings::open()->value(kLovesKey, false).toBool();
}

void ScrobbleAccounts::setSendsLoves(bool on)
{
    if (on == sendsLoves())
        return;
    settings::open()->setValue(kLovesKey, on);
    Q_EMIT sendsLovesChanged(on);
}

#include "moc_ScrobbleAccounts.cpp"
