#include "support/StreamServers.h"

#include "support/AudioSession.h"
#include "support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace {

constexpr const char *kPassword = "orbitune-source";

QString supportDir()
{
    return QString::fromLocal8Bit(qgetenv("ORBITUNE_SOURCE_DIR")) +
           QStringLiteral("/tests/support");
}

// The status line Icecast answers a GET for mount with. Icecast sends 200 as
// soon as a source has connected, before any audio; with audioBytes, a 200
// counts only once that much of the stream has arrived (0 otherwise).
int mountStatus(quint16 port, const QString &mount, qsizetype audioBytes = 0)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(500))
        return 0;
    socket.write("GET " + mount.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    QDeadlineTimer deadline(1000);
    while (!answer.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    const QList<QByteArray> parts = answer.left(answer.indexOf('\n')).split(' ');
    const int status = parts.size() > 1 ? parts.at(1).toInt() : 0;
    if (status == 200 && audioBytes > 0) {
        deadline.setRemainingTime(2000);
        auto body = [&answer] {
            const qsizetype end = answer.indexOf("\r\n\r\n");
            return end < 0 ? 0 : answer.size() - end - 4;
        };
        while (body() < audioBytes && socket.waitForReadyRead(int(deadline.remainingTime())))
            answer += socket.readAll();
        socket.abort();
        return body() >= audioBytes ? status : 0;
    }
    socket.abort();
    return status;
}

// The body of a short answer to a GET for path.
QByteArray fetch(quint16 port, const QString &path, int deadlineMs = 5000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write("GET " + path.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    QDeadlineTimer deadline(deadlineMs);
    while (socket.state() == QAbstractSocket::ConnectedState &&
           socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    answer += socket.readAll();
    const qsizetype body = answer.indexOf("\r\n\r\n");
    return body < 0 ? QByteArray() : answer.mid(body + 4);
}

} // namespace

bool StreamServers::setTitle(const QString &mount, const QString &title)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_icecastPort);
    if (!socket.waitForConnected(2000))
        return false;
    const QByteArray query =
        "/admin/metadata?mode=updinfo&mount=" + QUrl::toPercentEncoding(mount) +
        "&song=" + QUrl::toPercentEncoding(title);
    const QByteArray auth = QByteArray("admin:") + kPassword;
    socket.write("GET " + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic " +
                 auth.toBase64() + "\r\n\r\n");
    QByteArray answer;
    QDeadlineTimer deadline(3000);
    while (!answer.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    return answer.startsWith("HTTP/1.0 200") || answer.startsWith("HTTP/1.1 200");
}

StreamServers::StreamServers()
{
    childprocess::shareGstRegistry();
    m_refusedPort = childprocess::freePort();
    m_icecastPort = childprocess::freePort();
}

StreamServers::~StreamServers()
{
    if (m_http)
        childprocess::stop(m_http.get());
    if (m_scrobble)
        childprocess::stop(m_scrobble.get());
    for (auto &[mount, source] : m_sources)
        childprocess::stop(source.get());
    if (m_icecast)
        childprocess::stop(m_icecast.get());
}

bool StreamServers::fail(const QString &error)
{
    m_error = error;
    qWarning("StreamServers: %s", qPrintable(error));
    return false;
}

bool StreamServers::start()
{
    // The HTTP server makes its media files meanwhile.
    const QString mp3 = QStringLiteral("/live.mp3");
    const QString ogg = QStringLiteral("/live.ogg");
    const QString title = QStringLiteral("Live-Tone");
    return launchHttp() && startIcecast() && launchSource(mp3, title) && launchSource(ogg, title) &&
           waitForMount(mp3, title) && waitForMount(ogg, title) && waitForHttp();
}

bool StreamServers::startIcecast()
{
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary directory"));
    const QString icecast = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
    if (icecast.isEmpty())
        return fail(QStringLiteral("icecast2 is not installed"));
    const bool root = ::geteuid() == 0;
    // Icecast refuses to run as root; as root we start it as nobody, which
    // must be able to read the config and write the logs.
    if (root)
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
    // Tests side by side may be handed the same free port: the one whose
    // Icecast then finds it taken sees that Icecast exit and tries another.
    for (int attempt = 0;; ++attempt) {
        if (!launchIcecast(icecast, root))
            return false;
        if (!m_icecast->waitForFinished(300))
            return true;
        if (attempt == 2)
            return fail(QStringLiteral("icecast2 ended at once on port %1").arg(m_icecastPort));
        m_icecastPort = childprocess::freePort();
    }
}

bool StreamServers::launchIcecast(const QString &icecast, bool root)
{
    const QString config = m_dir.filePath(QStringLiteral("icecast.xml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write ") + config);
    file.write(QStringLiteral(R"(<icecast>
  <location>loopback</location><admin>test@localhost</admin>
  <limits><clients>200</clients><sources>8</sources><queue-size>524288</queue-size>
    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>
    <source-timeout>10</source-timeout><burst-on-connect>1</burst-on-connect>
    <burst-size>65535</burst-size></limits>
  <authentication><source-password>%1</source-password>
    <admin-user>admin</admin-user><admin-password>%1</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>%2</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <paths><basedir>%3</basedir><logdir>%3</logdir>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>2</loglevel></logging>
  <security><chroot>0</chroot></security>
</icecast>
)")
                   .arg(QLatin1String(kPassword))
                   .arg(m_icecastPort)
                   .arg(m_dir.path())
                   .toUtf8());
    file.close();
    file.setPermissions(QFileDevice::Permissions(0x6644));
    QString program = icecast;
    QStringList args = {QStringLiteral("-c"), config};
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (root) {
        if (setpriv.isEmpty())
            return fail(QStringLiteral("running as root needs setpriv to start icecast2"));
        program = setpriv;
        args = QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                           QStringLiteral("--clear-groups"), QStringLiteral("--pdeathsig=KILL"),
                           icecast} +
               args;
    }
    m_icecast = childprocess::start(program, args);
    if (!m_icecast)
        return fail(QStringLiteral("icecast2 did not start"));
    if (!childprocess::waitForTcpPort(m_icecastPort, 8000)) {
        QFile log(m_dir.filePath(QStringLiteral("error.log")));
        log.open(QIODevice::ReadOnly);
        return fail(QStringLiteral("icecast2 does not listen on %1: %2 %3")
                        .arg(m_icecastPort)
                        .arg(QString::fromLocal8Bit(m_icecast->readAll()),
                             QString::fromLocal8Bit(log.readAll().right(1500))));
    }
    return true;
}

// A tone whose pitch tells the second: pitchAt(k) during second k of each
// cycle, as raw samples in a file that sources loop.
QString StreamServers::stepsRaw()
{
    const QString path = m_dir.filePath(QStringLiteral("steps.raw"));
    QFile file(path);
    if (!file.exists()) {
        QByteArray pcm(kStepCycleS * 44100 * 2, Qt::Uninitialized);
        auto *out = reinterpret_cast<qint16 *>(pcm.data());
        double phase = 0;
        for (int i = 0; i < kStepCycleS * 44100; ++i) {
            phase += 2 * M_PI * pitchAt(i / 44100) / 44100.0;
            out[i] = qint16(16000 * std::sin(phase));
        }
        if (!file.open(QIODevice::WriteOnly) || file.write(pcm) != pcm.size()) {
            fail(QStringLiteral("cannot write ") + path);
            return {};
        }
    }
    return path;
}

bool StreamServers::startSource(const QString &mount, const QString &title)
{
    if (mount.endsWith(QLatin1String(".m3u8"))) {
        // Live HLS of the HTTP server, cut from the same tone.
        if (stepsRaw().isEmpty())
            return false;
        if (fetch(m_httpPort, QStringLiteral("/hls/start"), 30000) != "ok")
            return fail(QStringLiteral("the HLS segments were not made"));
        m_stepsStartMs = m_uptime.elapsed();
        return true;
    }
    return launchSource(mount, title) && waitForMount(mount, title);
}

bool StreamServers::launchSource(const QString &mount, const QString &title)
{
    stopSource(mount);
    const bool ogg = mount.endsWith(QLatin1String(".ogg"));
    QStringList pipeline = {QStringLiteral("-q"),
                            QStringLiteral("audiotestsrc"),
                            QStringLiteral("is-live=true"),
                            QStringLiteral("wave=sine"),
                            QStringLiteral("freq=440"),
                            QStringLiteral("volume=0.5"),
                            QStringLiteral("!"),
                            QStringLiteral("audio/x-raw,rate=44100,channels=2"),
                            QStringLiteral("!"),
                            QStringLiteral("audioconvert"),
                            QStringLiteral("!")};
    if (mount.contains(QLatin1String("steps"))) {
        const QString path = stepsRaw();
        if (path.isEmpty())
            return false;
        // In pieces: the file is one buffer, which Vorbis would encode
        // whole before sending anything.
        pipeline = QStringList{QStringLiteral("-q"),
                               QStringLiteral("multifilesrc"),
                               QStringLiteral("location=") + path,
                               QStringLiteral("loop=true"),
                               QStringLiteral("!"),
                               QStringLiteral("rawaudioparse"),
                               QStringLiteral("use-sink-caps=false"),
                               QStringLiteral("pcm-format=s16le"),
                               QStringLiteral("sample-rate=44100"),
                               QStringLiteral("num-channels=1"),
                               QStringLiteral("!"),
                               QStringLiteral("audiobuffersplit"),
                               QStringLiteral("!"),
                               QStringLiteral("clocksync"),
                               QStringLiteral("!"),
                               QStringLiteral("audioconvert"),
                               QStringLiteral("!"),
                               QStringLiteral("audio/x-raw,channels=2"),
                               QStringLiteral("!")};
        m_stepsStartMs = m_uptime.elapsed();
    }
    const QString tags = QStringLiteral("tags=title=%1,artist=Fixture").arg(title);
    if (ogg)
        pipeline << QStringLiteral("taginject") << tags << QStringLiteral("!")
                 << QStringLiteral("vorbisenc") << QStringLiteral("!") << QStringLiteral("oggmux");
    else
        pipeline << QStringLiteral("lamemp3enc") << QStringLiteral("target=bitrate")
                 << QStringLiteral("cbr=true") << QStringLiteral("bitrate=128")
                 << QStringLiteral("!") << QStringLiteral("taginject") << tags;
    pipeline << QStringLiteral("!") << QStringLiteral("shout2send")
             << QStringLiteral("ip=127.0.0.1") << QStringLiteral("port=%1").arg(m_icecastPort)
             << QStringLiteral("password=%1").arg(QLatin1String(kPassword))
             << QStringLiteral("mount=%1").arg(mount);
    // The sink's own account of connecting, kept for when a source does not
    // come up.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GST_DEBUG"), QStringLiteral("shout2:5"));
    env.insert(QStringLiteral("GST_DEBUG_NO_COLOR"), QStringLiteral("1"));
    auto source =
        childprocess::start(QStringLiteral("gst-launch-1.0"), pipeline, env, sourceLogPath(mount));
    if (!source)
        return fail(QStringLiteral("gst-launch-1.0 did not start"));
    m_sources[mount] = std::move(source);
    return true;
}

bool StreamServers::waitForMount(const QString &mount, const QString &title)
{
    // A sink gives up connecting after 10 s and its gst-launch-1.0 exits; one
    // still running and not on air after 12 s is stuck, and a second source
    // is given the rest of the time.
    QString firstTrouble;
    QDeadlineTimer deadline(30000);
    QDeadlineTimer stuck(12000);
    while (!deadline.hasExpired()) {
        const auto it = m_sources.find(mount);
        if (it == m_sources.end())
            return fail(QStringLiteral("no source for ") + mount);
        if (isMountUp(mount))
            return true;
        if (it->second->state() == QProcess::NotRunning)
            break;
        if (stuck.hasExpired() && firstTrouble.isEmpty()) {
            firstTrouble = sourceTrouble(mount);
            qWarning("StreamServers: source for %s stuck, starting another: %s", qPrintable(mount),
                     qPrintable(firstTrouble));
            if (!launchSource(mount, title))
                return false;
            continue;
        }
        QThread::msleep(50);
    }
    return fail(QStringLiteral("source for %1 did not come up: %2 %3")
                    .arg(mount, sourceTrouble(mount), firstTrouble));
}

// What the source, its sink and Icecast said, without Icecast's lines about
// the polls for the mount.
QString StreamServers::sourceTrouble(const QString &mount) const
{
    const auto it = m_sources.find(mount);
    const bool running = it != m_sources.end() && it->second->state() == QProcess::Running;
    QFile sink(sourceLogPath(mount));
    sink.open(QIODevice::ReadOnly);
    QFile log(m_dir.filePath(QStringLiteral("error.log")));
    log.open(QIODevice::ReadOnly);
    QByteArrayList icecast;
    for (const QByteArray &line : log.readAll().split('\n'))
        if (!line.contains("fserve"))
            icecast << line;
    return QStringLiteral("(%1, last status %2) sink: %3 icecast: %4")
        .arg(running ? QStringLiteral("running") : QStringLiteral("exited"))
        .arg(mountStatus(m_icecastPort, mount))
        .arg(QString::fromLocal8Bit(sink.readAll().right(1500)),
             QString::fromLocal8Bit(icecast.join('\n').right(1500)));
}

QString StreamServers::sourceLogPath(const QString &mount) const
{
    QString name = mount;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return m_dir.filePath(QStringLiteral("source%1.log").arg(name));
}

void StreamServers::stopSource(const QString &mount)
{
    auto it = m_sources.find(mount);
    if (it == m_sources.end())
        return;
    childprocess::stop(it->second.get());
    m_sources.erase(it);
    // Until Icecast has let the mount go, a new source for it is refused.
    QDeadlineTimer deadline(5000);
    while (mountStatus(m_icecastPort, mount) == 200 && !deadline.hasExpired())
        QThread::msleep(20);
}

bool StreamServers::setMountTitle(const QString &mount, const QString &title) const
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_icecastPort);
    if (!socket.waitForConnected(2000))
        return false;
    const QByteArray auth = (QByteArray("admin:") + kPassword).toBase64();
    socket.write("GET /admin/metadata?mode=updinfo&charset=UTF-8&mount=" +
                 QUrl::toPercentEncoding(mount) + "&song=" + QUrl::toPercentEncoding(title) +
                 " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic " + auth + "\r\n\r\n");
    QByteArray answer;
    QDeadlineTimer deadline(3000);
    while (!answer.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    const QList<QByteArray> parts = answer.left(answer.indexOf('\n')).split(' ');
    return parts.size() > 1 && parts.at(1) == "200";
}

bool StreamServers::isMountUp(const QString &mount) const
{
    // A few kilobytes: the source is past its start and the audio flows.
    return m_icecastPort && mountStatus(m_icecastPort, mount, 4096) == 200;
}

int StreamServers::mountRequests(const QString &mount) const
{
    QFile log(m_dir.filePath(QStringLiteral("access.log")));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return int(log.readAll().count(" " + mount.toUtf8() + " HTTP/"));
}

bool StreamServers::startHttp()
{
    return launchHttp() && waitForHttp();
}

bool StreamServers::launchHttp()
{
    const QString script = supportDir() + QStringLiteral("/stream_http.py");
    m_http = childprocess::start(
        QStringLiteral("python3"),
        {script, QStringLiteral("--dir"), m_dir.path(), QStringLiteral("--mp3"),
         mp3Url().toString(), QStringLiteral("--ogg"), oggUrl().toString(),
         QStringLiteral("--dead"), refusedUrl().toString()},
        QProcessEnvironment::systemEnvironment(), m_dir.filePath(QStringLiteral("http.log")));
    if (!m_http)
        return fail(QStringLiteral("python3 did not start"));
    return true;
}

bool StreamServers::waitForHttp()
{
    const QString port = childprocess::waitForLine(m_http.get(), "READY", 60000);
    m_httpPort = port.toUShort();
    if (!m_httpPort) {
        QFile log(m_dir.filePath(QStringLiteral("http.log")));
        log.open(QIODevice::ReadOnly);
        return fail(QStringLiteral("HTTP fixture did not start: ") +
                    QString::fromLocal8Bit(log.readAll().right(2000)));
    }
    return true;
}

QUrl StreamServers::icecastUrl(const QString &mount) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_icecastPort).arg(mount));
}

QUrl StreamServers::httpUrl(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_httpPort).arg(pathAndQuery));
}

QUrl StreamServers::startScrobbleServer(const QString &token, const QString &key,
                                        const QString &secret)
{
    m_scrobble = childprocess::start(
        QStringLiteral("python3"),
        {supportDir() + QStringLiteral("/scrobble_server.py"), token, key, secret},
        QProcessEnvironment::systemEnvironment(), m_dir.filePath(QStringLiteral("scrobble.log")));
    m_scrobblePort =
        m_scrobble ? childprocess::waitForLine(m_scrobble.get(), "PORT ", 20000).toUShort() : 0;
    if (!m_scrobblePort) {
        fail(QStringLiteral("the scrobbling stand-in did not start"));
        return {};
    }
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_scrobblePort));
}

QByteArray StreamServers::scrobbleServer(const QString &pathAndQuery) const
{
    return fetch(m_scrobblePort, pathAndQuery);
}

bool StreamServers::setStation(const QString &mode)
{
    return fetch(m_httpPort, QStringLiteral("/station/set?mode=") + mode) == "ok";
}

int StreamServers::stationHits() const
{
    return fetch(m_httpPort, QStringLiteral("/station/hits")).toInt();
}

QUrl StreamServers::httpsRedirectUrl()
{
    const int port = fetch(m_httpPort, QStringLiteral("/hostile/tls-port"), 15000).toInt();
    if (port <= 0) {
        fail(QStringLiteral("the TLS listener did not start"));
        return {};
    }
    return QUrl(QStringLiteral("https://127.0.0.1:%1/stream.mp3").arg(port));
}

int StreamServers::hostileHits(const QString &path) const
{
    return fetch(m_httpPort, QStringLiteral("/hostile/hits?path=") + path).toInt();
}

QUrl StreamServers::refusedUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/stream.mp3").arg(m_refusedPort));
}

QString StreamServers::icyTitle()
{
    return QStringLiteral("Café Olé - Fixture");
}

bool startLoopbackStation(AudioSession &audio, StreamServers &servers)
{
    if (!audio.start()) {
        std::fprintf(stderr, "audio: %s\n", qPrintable(audio.errorString()));
        return false;
    }
    if (!servers.startIcecast() || !servers.startSource(QStringLiteral("/live.mp3"))) {
        std::fprintf(stderr, "servers: %s\n", qPrintable(servers.errorString()));
        return false;
    }
    return true;
}
