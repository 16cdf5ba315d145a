#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The scrobbling services' secrets (ListenBrainz's token, Last.fm's session
// key) in the desktop's keyring, through the Secret Service (QtKeychain);
// never in the settings file, not even when the keyring cannot be reached:
// then the call fails and says why. Each call answers `done` once, here.
class SecretStore : public QObject {
    Q_OBJECT
public:
    // The keyring's service name the secrets are kept under.
    static constexpr char kService[] = "Orbitune";

    // `ok` false when the keyring could not be read or written; `value`
    // empty when it holds nothing under `key`.
    using Done = std::function<void(bool ok, const QString &value, const QString &error)>;

    using QObject::QObject;

    void read(const QString &key, Done done);
    void write(const QString &key, const QString &value, Done done);
    void remove(const QString &key, Done done);
};
