#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>

class LastFmClient;
class Scrobbler;
class SecretStore;

// The listener's scrobbling accounts: connecting and disconnecting
// ListenBrainz (a token, checked with the server, at the address the
// listener gives) and Last.fm (the desktop authentication), the account
// names once checked, the stations never scrobbled and whether loved songs
// are sent. Names and addresses live in the settings file ([scrobbling]);
// tokens and session keys only in the keyring (SecretStore). At start the
// accounts connected before are connected again from the keyring.
class ScrobbleAccounts : public QObject {
    Q_OBJECT
public:
    // The keyring's names of the secrets.
    static constexpr char kListenBrainzSecret[] = "listenbrainz-token";
    static constexpr char kLastFmSecret[] = "lastfm-session";

    // What a connection attempt ends with: `error` empty when connected;
    // `remembered` false when the keyring could not keep the secret (it is
    // used until the program ends).
    using Done = std::function<void(const QString &error, bool remembered)>;

    ScrobbleAccounts(Scrobbler *scrobbler, QObject *parent = nullptr);
    ~ScrobbleAccounts() override;

    // Connects what was connected before, from the keyring.
    void restore();

    QString accountName(const QString &service) const;
    QUrl listenBrainzAddress() const;
    void connectListenBrainz(const QUrl &address, const QString &token, Done done);

    // Whether this build or the settings file has Last.fm's application key.
    static bool lastFmAvailable();
    // The first step: the page to approve Orbitune on, handed to `done`
    // (empty with an error).
    void beginLastFm(std::function<void(const QUrl &page, const QString &error)> done);
    // The last step, once the listener approved it.
    void finishLastFm(Done done);

    void disconnectService(const QString &service);

    QSet<QString> excludedStations() const { return m_excluded; }
    void setExcluded(const QString &stationUrl, bool excluded);
    bool sendsLoves() const;
    void setSendsLoves(bool on);
    // Where the keyring said it could not be reached; empty when it could.
    QString keyringError() const { return m_keyringError; }
    // The Last.fm API root (tests point it at a server of their own).
    static QUrl lastFmRoot();

Q_SIGNALS:
    void accountsChanged();
    void keyringErrorChanged(const QString &error);
    void sendsLovesChanged(bool on);

private:
    void connectLastFm(const QString &user, const QString &key);
    void setKeyringError(const QString &error);
    void remember(const QString &service, const QString &user, const QString &secretName,
                  const QString &secret, Done done);

    Scrobbler *m_scrobbler;
    SecretStore *m_secrets;
    QSet<QString> m_excluded;
    QString m_keyringError;
    LastFmClient *m_pendingLastFm = nullptr; // while the listener approves
    QString m_lastFmToken;
};
