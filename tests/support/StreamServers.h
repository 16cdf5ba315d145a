#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <map>
#include <memory>

class AudioSession;

// Stream servers on 127.0.0.1 for tests, on free ports, stopped by PID when
// this object goes away:
//  - Icecast 2 with live sources fed by gst-launch-1.0 (mounts "/live.mp3"
//    and "/live.ogg", a steady sine tone; the MP3 one announces a title);
//  - an HTTP server (support/stream_http.py) with playlists, an HLS stream,
//    an ICY stream with Latin-1 titles, a chained Ogg stream and broken
//    responses; see httpUrl().
class StreamServers {
public:
    StreamServers();
    ~StreamServers();
    StreamServers(const StreamServers &) = delete;
    StreamServers &operator=(const StreamServers &) = delete;

    // Icecast, both live sources and the HTTP server. False (see
    // errorString()) if anything did not come up.
    bool start();
    bool startIcecast();
    bool startHttp();

    // Feeds a mount ("/live.mp3" or "/live.ogg"; the format follows the
    // extension) and waits until listeners get its audio. A mount named
    // "steps" gets a tone whose pitch tells the second (pitchAt), not 440 Hz;
    // "/steps.m3u8" is that tone as live HLS of the HTTP server (its
    // httpUrl("/hls/steps.m3u8"), in segments of a second; "/steps-fmp4.m3u8" in fMP4).
    // A "steps" source started again starts the tone over at second 0.
    static constexpr int kStepCycleS = 100;
    static int pitchAt(int second) { return 300 + 10 * (second % kStepCycleS); }
    // The second of the cycle the "steps" source is sending now (at most).
    int stepsSecondNow() const
    {
        return int((m_uptime.elapsed() - m_stepsStartMs) / 1000 % kStepCycleS);
    }
    bool startSource(const QString &mount, const QString &title = QStringLiteral("Live-Tone"));
    // Kills the source: Icecast drops the mount and its listeners. Returns
    // once the mount is gone, so the next source for it is not refused.
    void stopSource(const QString &mount);
    // Whether a listener of mount gets audio (not only a status line).
    bool isMountUp(const QString &mount) const;
    // Announces `title` on mount through Icecast's admin interface, as a
    // station's software does when the song changes (MP3 mounts).
    bool setTitle(const QString &mount, const QString &title);
    // How many requests for mount Icecast has answered (its access log).
    int mountRequests(const QString &mount) const;

    QUrl icecastUrl(const QString &mount) const;
    QUrl mp3Url() const { return icecastUrl(QStringLiteral("/live.mp3")); }
    QUrl oggUrl() const { return icecastUrl(QStringLiteral("/live.ogg")); }
    // Paths of the HTTP server: /list.pls /list-wrongtype.pls /list.m3u
    // /list-plain /list.xspf /list-xspf.txt /fallback.pls /fallback404.m3u
    // /self.m3u /self-then-stream.m3u /huge.m3u /list-icy.m3u /html /404
    // /redirect /loop/a /stall /stall-text /cut.mp3 /tone.mp3 /icy.mp3
    // /chained.ogg /hls/live.m3u8 (live HLS) /hls/live-fmp4.m3u8 (the same
    // in fMP4) /hls/vod.m3u8 (the same, ended)
    // /live.aac (ADTS AAC, looped) /loud.mp3 /quiet.mp3 (the tone looped
    // at -9.7 and -29.7 LUFS) /ticks.mp3 (ticks peaking at -1 dBFS, quiet
    // as a whole) /ua.mp3 (logs
    // "User-Agent|Icy-MetaData" of each request to dir()/requests.log)
    // /slow-check.mp3 (answers requests without Icy-MetaData after 5 s)
    // /throttled.mp3 (128 kbit/s with no burst and stalls of up to 300 ms)
    // /station (see setStation()) /hop/N/PATH (N redirects, then /PATH).
    // Hostile stations (described in stream_http.py): /hostile/silent-head.mp3
    // /hostile/silent-later.mp3 /hostile/endless-head /hostile/icy-every.mp3
    // /hostile/icy-same.mp3 /hostile/codec-flip /hostile/hls/master-flood.m3u8
    // /hostile/hls/tiny-target.m3u8 /hostile/hls/huge-duration.m3u8
    // /hostile/hls/lagging.m3u8 /hostile/hls/trun-bomb.m3u8; see hostileHits().
    // Query strings are ignored by the server.
    QUrl httpUrl(const QString &pathAndQuery) const;
    // An https:// address on loopback whose answer redirects to the looped
    // tone over plain http://; its self-signed certificate is
    // dir() + "/hostile-cert.pem". Empty if the listener did not start.
    QUrl httpsRedirectUrl();
    // How many requests a /hostile/ path has had.
    int hostileHits(const QString &path) const;
    // What /station answers from now on: "http" or "icy" (the tone with an
    // HTTP or a Shoutcast "ICY 200 OK" status line), "down" (503) or "page"
    // (an offline page with 200). Streams under way end at each change.
    bool setStation(const QString &mode);
    // How many requests /station has had.
    int stationHits() const;
    // A loopback URL nothing listens on.
    QUrl refusedUrl() const;
    // The title /icy.mp3 sends (in Latin-1 on the wire).
    static QString icyTitle();

    // Changes the title Icecast sends on `mount`, as a station's playout
    // does: its admin interface (/admin/metadata?mode=updinfo), in UTF-8.
    bool setMountTitle(const QString &mount, const QString &title) const;

    // The scrobbling services' stand-in (support/scrobble_server.py: a
    // ListenBrainz server taking `token`, a Last.fm one taking `key` and
    // `secret`): its address, empty if it did not start.
    QUrl startScrobbleServer(const QString &token, const QString &key = QString(),
                             const QString &secret = QString());
    // The body of a GET of the stand-in's `pathAndQuery` (its control paths).
    QByteArray scrobbleServer(const QString &pathAndQuery) const;

    quint16 icecastPort() const { return m_icecastPort; }
    QString errorString() const { return m_error; }
    QString dir() const { return m_dir.path(); }

private:
    QElapsedTimer m_uptime = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    qint64 m_stepsStartMs = 0;
    // Writes the configuration and starts Icecast on m_icecastPort.
    bool launchIcecast(const QString &icecast, bool root);
    bool fail(const QString &error);
    QString stepsRaw();
    bool launchHttp();
    bool waitForHttp();
    bool launchSource(const QString &mount, const QString &title);
    bool waitForMount(const QString &mount, const QString &title);
    QString sourceTrouble(const QString &mount) const;
    QString sourceLogPath(const QString &mount) const;

    QTemporaryDir m_dir;
    QString m_error;
    quint16 m_icecastPort = 0;
    quint16 m_httpPort = 0;
    quint16 m_refusedPort = 0;
    quint16 m_scrobblePort = 0;
    std::unique_ptr<QProcess> m_scrobble;
    std::unique_ptr<QProcess> m_icecast;
    std::unique_ptr<QProcess> m_http;
    std::map<QString, std::unique_ptr<QProcess>> m_sources;
};

// A private sound server and Icecast playing "/live.mp3", as the benchmarks
// start them; false, after saying why on standard error, when either fails.
bool startLoopbackStation(AudioSession &audio, StreamServers &servers);
