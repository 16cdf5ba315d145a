#include "integrations/NowPlayingNotices.h"

#include "platform/base/Settings.h"
#include "platform/desktop/DesktopNotifier.h"
#include "platform/net/ImageLoader.h"
#include "session/PlaybackSession.h"
#include "store/ProgramEntry.h"

namespace {
const QString kEnabledKey = QStringLiteral("notifications/enabled");
} // namespace

NowPlayingNotices::NowPlayingNotices(PlaybackSession *session, DesktopNotifier *notifier,
                                     QObject *parent)
    : QObject(parent), m_session(session), m_notifier(notifier)
{
    connect(m_session, &PlaybackSession::stateChanged, this, &NowPlayingNotices::playbackChanged);
    connect(m_session, &PlaybackSession::nowPlayingChanged, this, &NowPlayingNotices::titleChanged);
    connect(m_session, &PlaybackSession::currentProgramChanged, this,
            &NowPlayingNotices::programChanged);
    if (m_notifier)
        connect(m_notifier, &DesktopNotifier::actionInvoked, this, [this](const QString &key) {
            if (key == QLatin1String("love") && m_love && !m_noticeTitle.isEmpty())
                m_love(m_noticeTitle);
        });
    programChanged();
    playbackChanged();
}

void NowPlayingNotices::setLoveHandler(std::function<void(const QString &title)> love)
{
    m_love = std::move(love);
}

bool NowPlayingNotices::isEnabled() const
{
    return settings::open()->value(kEnabledKey, true).toBool();
}

void NowPlayingNotices::setEnabled(bool enabled)
{
    if (enabled == isEnabled())
        return;
    settings::open()->setValue(kEnabledKey, enabled);
    Q_EMIT enabledChanged(enabled);
}

void NowPlayingNotices::programChanged()
{
    // The picture is asked for once the program plays, so that a
    // notification never waits for it, and a start with nothing playing
    // opens no connection for it.
    const QUrl url(program::image(m_session->currentProgram()), QUrl::StrictMode);
    if (url == m_pictureUrl)
        return;
    m_pictureUrl = url;
    m_picture = QImage();
    m_pictureAsked = false;
    askForPicture();
}

void NowPlayingNotices::askForPicture()
{
    const PlaybackSession::State state = m_session->state();
    if (m_pictureAsked ||
        (state != PlaybackSession::State::Loading && state != PlaybackSession::State::Playing))
        return;
    const QUrl url = m_pictureUrl;
    if (url.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return;
    m_pictureAsked = true;
    ImageLoader::shared()->load(url, this, [this, url](const QImage &image) {
        if (url == m_pictureUrl)
            m_picture = image;
    });
}

QString NowPlayingNotices::programName() const
{
    const QString name = program::name(m_session->currentProgram());
    return name.isEmpty() ? QStringLiteral("Orbitune") : name;
}

void NowPlayingNotices::playbackChanged()
{
    askForPicture();
    if (m_session->state() == PlaybackSession::State::Failed) {
        m_lastTitle.clear();
        if (m_notifier && m_windowHidden && isEnabled())
            m_notifier->show(programName(), QStringLiteral("Error, switch next one."));
        m_noticeTitle.clear();
    }
}

void NowPlayingNotices::titleChanged()
{
    if (m_session->state() != PlaybackSession::State::Playing)
        return;
    const QString title = m_session->nowPlaying();
    if (title.isEmpty() || title == m_lastTitle)
        return;
    m_lastTitle = title;
    if (m_notifier && m_windowHidden && isEnabled()) {
        m_noticeTitle = title;
        QList<QPair<QString, QString>> actions;
        if (m_love)
            actions.append({QStringLiteral("love"), QStringLiteral("Love")});
        m_notifier->show(programName(), title, m_picture, actions);
    }
}

#include "moc_NowPlayingNotices.cpp"
