#include "integrations/PlayOn.h"

#include "integrations/CastPlace.h"
#include "integrations/RendererPlace.h"
#include "platform/base/AsyncTask.h"
#include "platform/cast/CastFinder.h"
#include "platform/net/ImageLoader.h"
#include "platform/stream/StreamTap.h"
#include "platform/upnp/CastLog.h"
#include "platform/upnp/Renderer.h"
#include "platform/upnp/RendererFinder.h"
#include "platform/upnp/StreamServer.h"
#include "session/PlaybackSession.h"
#include "session/Volume.h"
#include "store/ProgramEntry.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {
QString mimeOf(StreamTap::Format format)
{
    switch (format) {
    case StreamTap::Format::Mp3: return QStringLiteral("audio/mpeg");
    case StreamTap::Format::Aac: return QStringLiteral("audio/aac");
    case StreamTap::Format::Ogg: return QStringLiteral("application/ogg");
    case StreamTap::Format::Unknown: break;
    }
    return QStringLiteral("application/octet-stream");
}

QString codecName(const QString &mime)
{
    if (mime == QLatin1String("audio/mpeg"))
        return QStringLiteral("MP3");
    if (mime == QLatin1String("audio/aac"))
        return QStringLiteral("AAC");
    if (mime == QLatin1String("application/ogg"))
        return QStringLiteral("Ogg");
    return QStringLiteral("unknown");
}
// What a speaker shows: at most 512 pixels a side, PNG where it is
// transparent and JPEG otherwise.
struct EncodedPicture {
    QByteArray bytes;
    QString mime;
};
EncodedPicture encodePicture(QImage image)
{
    constexpr int kSide = 512;
    if (image.width() > kSide || image.height() > kSide)
        image = image.scaled(kSide, kSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const bool png = image.hasAlphaChannel();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, png ? "png" : "jpeg");
    writer.setQuality(90);
    if (!writer.write(image))
        return {};
    return {buffer.data(), png ? QStringLiteral("image/png") : QStringLiteral("image/jpeg")};
}
} // namespace

// The session's stream, on GStreamer's threads, into the server's feed.
class PlayOn::Tap : public StreamTap {
public:
    explicit Tap(std::shared_ptr<StreamServer::Feed> feed) : m_feed(std::move(feed)) {}
    void streamStarted(Format format) override { m_feed->begin(mimeOf(format)); }
    void streamData(const char *data, qsizetype size) override { m_feed->push(data, size); }
    // For renderers that show titles (the window, the history and MPRIS
    // hear them through the session).
    void streamTitle(const QString &title) override { m_feed->setTitle(title); }

private:
    std::shared_ptr<StreamServer::Feed> m_feed;
};

PlayOn::PlayOn(PlaybackSession *session, RendererFinder *finder, CastFinder *castFinder,
               QObject *parent)
    : QObject(parent), m_session(session), m_finder(finder), m_castFinder(castFinder)
{
    connect(finder, &RendererFinder::renderersChanged, this, &PlayOn::placesChanged);
    connect(finder, &RendererFinder::rendererGone, this, &PlayOn::placeGone);
    if (castFinder) {
        connect(castFinder, &CastFinder::devicesChanged, this, &PlayOn::placesChanged);
        connect(castFinder, &CastFinder::deviceGone, this,
                [this](const QString &id) { placeGone(castPrefix() + id); });
    }
    connect(session, &PlaybackSession::stateChanged, this, &PlayOn::sessionStateChanged);
    // Every change of what is heard: the listener's, and an alarm's own
    // volume rising over its fade-in, unmuted.
    connect(session->volume(), &Volume::effectiveChanged, this, &PlayOn::applyVolume);
    connect(session, &PlaybackSession::levellingGainChanged, this, &PlayOn::applyVolume);
}

PlayOn::~PlayOn()
{
    if (!m_chosen.isEmpty())
        backHere(QString());
}

QList<PlayOn::Place> PlayOn::places() const
{
    QList<Place> places{{QString(), thisComputer()}};
    for (const RendererInfo &info : m_finder->renderers())
        places << Place{info.udn, info.name};
    if (m_castFinder) {
        for (const CastDeviceInfo &info : m_castFinder->devices())
            places << Place{castPrefix() + info.id, QStringLiteral("%1 (Cast)").arg(info.name)};
    }
    return places;
}

void PlayOn::placeGone(const QString &id)
{
    if (id == m_chosen)
        backHere(QStringLiteral("%1 is gone: playing on %2.").arg(m_chosenName, thisComputer()));
}

std::unique_ptr<PlayOnPlace> PlayOn::open(const QString &id) const
{
    if (id.startsWith(castPrefix())) {
        const CastDeviceInfo *info =
            m_castFinder ? m_castFinder->device(id.mid(castPrefix().size())) : nullptr;
        return info ? std::make_unique<CastPlace>(*info) : nullptr;
    }
    if (std::unique_ptr<Renderer> renderer = m_finder->open(id))
        return std::make_unique<RendererPlace>(std::move(renderer));
    return nullptr;
}

void PlayOn::choose(const QString &id)
{
    if (id == m_chosen)
        return;
    if (id.isEmpty()) {
        backHere(QString());
        return;
    }
    start(id);
}

void PlayOn::start(const QString &id)
{
    if (!m_chosen.isEmpty())
        backHere(QString());
    std::unique_ptr<PlayOnPlace> place = open(id);
    if (!place) {
        Q_EMIT notice(QStringLiteral("That speaker is no longer there."));
        return;
    }
    auto server = std::make_unique<StreamServer>();
    if (place->localAddress().isEmpty() || !server->listen(QHostAddress(place->localAddress()))) {
        Q_EMIT notice(
            QStringLiteral("%1 cannot be reached from this computer.").arg(place->name()));
        return;
    }
    m_chosen = id;
    m_chosenName = place->name();
    m_place = std::move(place);
    m_server = std::move(server);
    setSeenPlaying(false);
    m_seenOurs = false;
    m_offering = false;
    m_pictureSource.clear();
    NSLog(lcCast(), QtInfoMsg, "playing on %@, served from %@", m_chosenName, m_server->url());
    connect(m_place.get(), &PlayOnPlace::lost, this, [this] {
        backHere(QStringLiteral("%1 stopped answering: playing on %2.")
                     .arg(m_chosenName, thisComputer()));
    });
    connect(m_place.get(), &PlayOnPlace::polled, this, &PlayOn::followRenderer);
    connect(m_server.get(), &StreamServer::streamBegan, this, &PlayOn::offer);
    m_session->setLocalSound(false);
    Q_EMIT soundingThereChanged(false);
    m_tap = std::make_shared<Tap>(m_server->feed());
    // The title under way; the stream's next ones follow through the tap.
    m_server->feed()->setTitle(m_session->nowPlaying());
    // A stream under way begins for the tap now, in its format.
    m_session->setCastTap(m_tap);
    m_sentVolume = -1;
    m_sentMute = -1;
    applyVolume();
    Q_EMIT currentChanged(m_chosen);
    // Ogg cannot be joined halfway (its headers came first): it starts afresh.
    if (!m_session->isPlaying() || m_server->feed()->mime() == QLatin1String("application/ogg"))
        m_session->playCurrent();
}

void PlayOn::backHere(const QString &why)
{
    if (m_chosen.isEmpty())
        return;
    NSLog(lcCast(), QtInfoMsg, "playing on this computer again (was %@)", m_chosenName);
    ++m_offers;
    m_session->setCastTap(nullptr);
    // Stopped there; the handle goes once the renderer answered. A renderer
    // that went away is not asked.
    PlayOnPlace *leaving = m_place.release();
    leaving->disconnect(this);
    leaving->setParent(this);
    if (why.isEmpty())
        leaving->stopThenDelete();
    else
        leaving->deleteLater();
    // Told from the server's own signal at times: it goes once that is over.
    m_server.release()->deleteLater();
    m_tap.reset();
    m_chosen.clear();
    m_session->setLocalSound(true);
    setSeenPlaying(false);
    Q_EMIT soundingThereChanged(false);
    Q_EMIT currentChanged(QString());
    if (!why.isEmpty()) {
        NSLog(lcCast(), QtWarningMsg, "%@", why);
        Q_EMIT notice(why);
    }
}

void PlayOn::offer(const QString &mime)
{
    if (!m_place || !m_session->isPlaying())
        return;
    const QVariantMap program = m_session->currentProgram();
    const PlayOnPlace::Stream stream{m_server->url(), mime, program::name(program),
                                     sharePicture(program::image(program))};
    setSeenPlaying(false);
    m_offering = true;
    const quint64 offer = ++m_offers;
    const bool playable = m_place->offer(stream, [this, offer](const QString &error) {
        // The answer to an offer since replaced (another stream, another
        // renderer) says nothing of the one under way.
        if (offer != m_offers)
            return;
        // Taken and playing; the answer to a poll sent before may still
        // tell what it did before, and is not heeded.
        m_offering = false;
        m_skipPoll = true;
        // A place that tells what it plays as it takes it (a Cast device)
        // has been seen with ours.
        m_seenOurs = m_seenOurs || (error.isEmpty() && m_server->serves(m_place->currentUri()));
        setSeenPlaying(error.isEmpty());
        if (!error.isEmpty())
            backHere(QStringLiteral("%1 refused the stream (%2): playing on %3.")
                         .arg(m_chosenName, error, thisComputer()));
    });
    if (!playable) {
        m_offering = false;
        backHere(QStringLiteral("%1 cannot play this station's %2 stream: playing on %3.")
                     .arg(m_chosenName, codecName(mime), thisComputer()));
    }
}

// The relay's address of the picture at `source`, which we fetch and make
// ourselves: a speaker may not reach the station's server, nor a picture on
// this computer. Given before the picture is made; the server holds a
// request for it until it is.
QString PlayOn::sharePicture(const QString &source)
{
    if (source.isEmpty())
        return {};
    if (source == m_pictureSource)
        return m_server->pictureUrl();
    m_pictureSource = source;
    StreamServer *server = m_server.get();
    const int serial = server->beginPicture();
    ImageLoader::shared()->load(QUrl(source), server, [server, serial](const QImage &image) {
        if (image.isNull()) {
            server->setPicture(serial, {}, {});
            return;
        }
        asynctask::run(
            server, [image] { return encodePicture(image); },
            [server, serial](const EncodedPicture &picture) {
                server->setPicture(serial, picture.bytes, picture.mime);
            });
    });
    return server->pictureUrl();
}

void PlayOn::sessionStateChanged()
{
    // Paused because it stopped there: the renderer is not told again (it
    // may be another controller's by now).
    if (!m_place || m_followingRenderer)
        return;
    const PlaybackSession::State state = m_session->state();
    // A live stream is stopped there, not paused: play opens it afresh.
    if (state == PlaybackSession::State::Paused || state == PlaybackSession::State::Failed ||
        state == PlaybackSession::State::Idle) {
        setSeenPlaying(false);
        m_place->stop();
    }
}

// What the renderer said in its last answers: playing ours, stopped there
// (on the speaker, or by another controller) after it played ours, or told
// to play something else. One that does not say what it plays is judged by
// its state alone.
void PlayOn::followRenderer()
{
    if (m_offering || std::exchange(m_skipPoll, false))
        return;
    const QString uri = m_place->currentUri();
    const QString state = m_place->transportState();
    if (!uri.isEmpty() && !m_server->serves(uri)) {
        // Another controller has it now, and is left alone with it.
        if (m_seenOurs)
            backHere(QStringLiteral("%1 is playing something else now: playing on %2.")
                         .arg(m_chosenName, thisComputer()));
        return;
    }
    m_seenOurs = m_seenOurs || !uri.isEmpty();
    if (state == QLatin1String("PLAYING")) {
        setSeenPlaying(true);
    } else if (m_seenPlaying && state != QLatin1String("TRANSITIONING") && m_session->isPlaying()) {
        NSLog(lcCast(), QtInfoMsg, "%@ stopped by itself (%@)", m_chosenName, state);
        setSeenPlaying(false);
        m_followingRenderer = true;
        m_session->pause();
        m_followingRenderer = false;
        Q_EMIT notice(QStringLiteral("%1 was stopped: paused.").arg(m_chosenName));
    }
}

void PlayOn::setSeenPlaying(bool seen)
{
    if (seen == m_seenPlaying)
        return;
    m_seenPlaying = seen;
    Q_EMIT soundingThereChanged(isSoundingThere());
}

void PlayOn::applyVolume()
{
    if (!m_place)
        return;
    const Volume *volume = m_session->volume();
    // Told only when it changes: a fade-in or the sleep timer's fade-out
    // would otherwise call the renderer ten times a second. The station's
    // levelling gain goes with it, on the same perceptual scale as ours (the
    // cube root of the amplitude), within the renderer's range.
    const double levelled =
        volume->heardLevel() * std::pow(10.0, m_session->levellingGainDb() / 60.0);
    const int level = int(std::lround(std::clamp(levelled, 0.0, 1.0) * 100));
    if (level != m_sentVolume) {
        m_sentVolume = level;
        m_place->setVolume(level);
    }
    const int mute = volume->effectiveMuted() ? 1 : 0;
    if (mute != m_sentMute) {
        m_sentMute = mute;
        m_place->setMute(mute == 1);
    }
}

#include "moc_PlayOn.cpp"
