#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class CastFinder;
class PlaybackSession;
class PlayOnPlace;
class RendererFinder;
class StreamServer;

// Where the sound plays: "This Computer", one of the renderers found on
// the local network or one of its Google Cast devices ("NAME (Cast)"). Choosing a renderer plays
// the current program there from the session's own connection (served to it by a StreamServer on
// the interface facing it) and mutes the sound here; the choice holds for every program played
// until it changes. Play, pause, volume and mute (an alarm's own volume and unmuting included)
// follow the session; the renderer's own stop pauses the session, and another controller giving it
// something else brings the sound back here;
// titles reach renderers that ask for ICY metadata. A
// renderer that goes away, refuses the stream or cannot play its codec
// brings the sound back here and says so through notice().
class PlayOn : public QObject {
    Q_OBJECT
public:
    struct Place {
        QString id; // empty: this computer
        QString name;
    };

    PlayOn(PlaybackSession *session, RendererFinder *finder, CastFinder *castFinder = nullptr,
           QObject *parent = nullptr);
    ~PlayOn() override;

    // "This Computer" first, then the renderers found, by name, then the
    // Cast devices (their ids start with castPrefix()).
    QList<Place> places() const;
    // The chosen place's id; empty for this computer.
    QString current() const { return m_chosen; }
    void choose(const QString &id);

    // Whether the chosen renderer was seen playing our stream.
    bool isSoundingThere() const { return !m_chosen.isEmpty() && m_seenPlaying; }

    // While a renderer is chosen, else null.
    StreamServer *server() const { return m_server.get(); }

    static QString thisComputer() { return QStringLiteral("This Computer"); }
    static QString castPrefix() { return QStringLiteral("cast:"); }

Q_SIGNALS:
    void placesChanged();
    void currentChanged(const QString &id);
    // Something the listener should be told: why the sound came back here.
    void notice(const QString &text);
    // isSoundingThere() may have changed (also when the sound went there or
    // came back here).
    void soundingThereChanged(bool sounding);

private:
    class Tap;
    void start(const QString &id);
    std::unique_ptr<PlayOnPlace> open(const QString &id) const;
    void placeGone(const QString &id);
    // Ends playing there; `why` (if any) is told.
    void backHere(const QString &why);
    void offer(const QString &mime);
    QString sharePicture(const QString &source);
    void sessionStateChanged();
    void followRenderer();
    void applyVolume();
    void setSeenPlaying(bool seen);

    PlaybackSession *m_session;
    RendererFinder *m_finder;
    CastFinder *m_castFinder;
    QString m_chosen;
    QString m_chosenName;
    std::unique_ptr<PlayOnPlace> m_place;
    std::unique_ptr<StreamServer> m_server;
    std::shared_ptr<Tap> m_tap;
    // The renderer was seen playing what we offered last.
    bool m_seenPlaying = false;
    // ... and with our URI.
    bool m_seenOurs = false;
    bool m_followingRenderer = false;
    // Between telling it what to play and its answer.
    bool m_offering = false;
    // Counts offers; an answer to an older one is not heeded.
    quint64 m_offers = 0;
    bool m_skipPoll = false;
    // What the renderer was last told (-1: nothing yet).
    int m_sentVolume = -1;
    int m_sentMute = -1;
    // The address of the picture the server serves.
    QString m_pictureSource;
};
