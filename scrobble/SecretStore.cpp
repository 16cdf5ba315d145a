#include "scrobble/SecretStore.h"

#include "platform/base/Log.h"

#include <qt6keychain/keychain.h>

namespace {

// Starts `job` and hands its outcome to `done`; no file stands in for the
// keyring.
void run(QKeychain::Job *job, const QString &key, SecretStore::Done done,
         std::function<QString()> value)
{
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(key);
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [done = std::move(done), value = std::move(value)](QKeychain::Job *j) {
                         if (j->error() == QKeychain::NoError) {
                             done(true, value ? value() : QString(), QString());
                         } else if (j->error() == QKeychain::EntryNotFound) {
                             done(true, QString(), QString());
                         } else {
                             NSLog(lcScrobble(), QtWarningMsg, "scrobbling: the keyring: %@",
                                   j->errorString());
                             done(false, QString(), j->errorString());
                         }
                     });
    job->start();
}

} // namespace

void SecretStore::read(const QString &key, Done done)
{
    auto *job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService), this);
    run(job, key, std::move(done), [job] { return job->textData(); });
}

void SecretStore::write(const QString &key, const QString &value, Done done)
{
    auto *job = new QKeychain::WritePasswordJob(QString::fromLatin1(kService), this);
    job->setTextData(value);
    run(job, key, std::move(done), nullptr);
}

void SecretStore::remove(const QString &key, Done done)
{
    auto *job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kService), this);
    run(job, key, std::move(done), nullptr);
}

#include "moc_SecretStore.cpp"
