#include "scrobble/Scrobbler.h"

#include "history/HistoryStore.h"
#include "history/ScrobbleQueue.h"
#include "platform/base/Log.h"
#include "scrobble/ScrobbleClient.h"
#include "scrobble/ScrobbleSender.h"
#include "scrobble/ScrobbleTracker.h"

#include <QStringList>

struct Scrobbler::Service {
    std::unique_ptr<ScrobbleClient> client;
    std::unique_ptr<ScrobbleSender> sender;
};

Scrobbler::Scrobbler(PlaybackSession *session, HistoryRecorder *recorder, HistoryStore *store,
                     QObject *parent)
    : QObject(parent), m_queue(new ScrobbleQueue(store, this)),
      m_tracker(new ScrobbleTracker(session, recorder, this))
{
    connect(m_tracker, &ScrobbleTracker::listened, this,
            [this](const ScrobbleQueue::Listen &listen) {
                QStringList services;
                for (const auto &s : std::as_const(m_services))
                    services << s->client->service();
                m_queue->add(listen, services);
            });
    connect(m_tracker, &ScrobbleTracker::nowPlaying, this,
            [this](const ScrobbleQueue::Listen &listen) {
                for (const auto &s : std::as_const(m_services)) {
                    if (s->sender->status() != ScrobbleSender::Status::Stopped)
                        s->client->nowPlaying(listen);
                }
            });
    connect(store, &HistoryStore::favouriteChanged, this, [this, store](qint64 id, bool loved) {
        if (!m_sendsLoves || !loved || m_services.isEmpty())
            return;
        const std::optional<HistoryStore::Song> song = store->song(id);
        if (!song || song->artist.isEmpty() || song->song.isEmpty())
            return;
        for (const auto &s : std::as_const(m_services)) {
            s->client->love(song->artist, song->song,
                            [service = s->client->service()](const ScrobbleClient::Reply &reply) {
                                if (reply.outcome != ScrobbleClient::Outcome::Accepted)
                                    NSLog(lcScrobble(), QtInfoMsg,
                                          "scrobbling: %@ did not take a loved song: %@", service,
                                          reply.message);
                            });
        }
    });
}

Scrobbler::~Scrobbler() = default;

ScrobbleSender *Scrobbler::connectService(ScrobbleClient *client)
{
    disconnectService(client->service());
    auto service = std::make_shared<Service>();
    service->client.reset(client);
    client->setParent(nullptr);
    service->sender = std::make_unique<ScrobbleSender>(m_queue, client);
    m_services << service;
    Q_EMIT servicesChanged();
    return service->sender.get();
}

void Scrobbler::disconnectService(const QString &service)
{
    const auto removed =
        m_services.removeIf([&service](const auto &s) { return s->client->service() == service; });
    if (removed)
        Q_EMIT servicesChanged();
}

ScrobbleSender *Scrobbler::sender(const QString &service) const
{
    for (const auto &s : m_services) {
        if (s->client->service() == service)
            return s->sender.get();
    }
    return nullptr;
}

void Scrobbler::retryNow()
{
    for (const auto &s : std::as_const(m_services))
        s->sender->retryNow();
}

ScrobbleClient *Scrobbler::client(const QString &service) const
{
    for (const auto &s : m_services) {
        if (s->client->service() == service)
            return s->client.get();
    }
    return nullptr;
}

#include "moc_Scrobbler.cpp"
