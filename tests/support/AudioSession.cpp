#include "support/AudioSession.h"

#include "support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>
#include <cmath>

AudioSession::AudioSession()
{
    childprocess::shareGstRegistry();
}

AudioSession::~AudioSession()
{
    if (m_daemon)
        childprocess::stop(m_daemon.get());
}

bool AudioSession::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString runtime = m_dir.filePath(QStringLiteral("rt"));
    QDir().mkpath(runtime);
    const QString socket = runtime + QStringLiteral("/native");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
    env.remove(QStringLiteral("PULSE_SERVER"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_daemon = childprocess::start(
        QStringLiteral("pulseaudio"),
        {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
         QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=false"),
         QStringLiteral("--system=false"), QStringLiteral("--disable-shm=true"),
         QStringLiteral("--log-target=stderr"),
         QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket,
         QStringLiteral("--load=module-null-sink sink_name=%1 rate=44100 channels=2")
             .arg(QLatin1String(kSinkName))},
        env, m_dir.filePath(QStringLiteral("pulse.log")));
    if (!m_daemon) {
        m_error = QStringLiteral("pulseaudio did not start");
        return false;
    }
    QDeadlineTimer deadline(10000);
    bool up = false;
    while (!deadline.hasExpired() && m_daemon->state() == QProcess::Running) {
        QLocalSocket probe;
        probe.connectToServer(socket);
        if (probe.waitForConnected(200)) {
            up = true;
            break;
        }
        QThread::msleep(50);
    }
    if (!up) {
        QFile log(m_dir.filePath(QStringLiteral("pulse.log")));
        log.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("pulseaudio does not answer: ") +
                  QString::fromLocal8Bit(log.readAll().right(2000));
        return false;
    }
    m_server = QStringLiteral("unix:") + socket;
    qputenv("PULSE_SERVER", m_server.toUtf8());
    qputenv("PULSE_RUNTIME_PATH", runtime.toUtf8());
    return true;
}

bool AudioSession::addSink(const QString &name)
{
    const QStringList load{QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                           QStringLiteral("sink_name=") + name, QStringLiteral("rate=44100"),
                           QStringLiteral("channels=2")};
    return QProcess::execute(QStringLiteral("pactl"), load) == 0 &&
           QProcess::execute(QStringLiteral("pactl"),
                             {QStringLiteral("set-default-sink"), QLatin1String(kSinkName)}) == 0;
}

LevelMeter::LevelMeter(const AudioSession &session, const QString &source, QObject *parent)
    : QObject(parent), m_session(session), m_source(source)
{
}

LevelMeter::~LevelMeter()
{
    if (m_parec)
        childprocess::stop(m_parec.get(), 1000);
}

bool LevelMeter::start()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), m_session.serverAddress());
    m_parec = childprocess::start(
        QStringLiteral("parec"),
        {QStringLiteral("--raw"), QStringLiteral("--format=s16le"), QStringLiteral("--rate=44100"),
         QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=10"),
         QStringLiteral("--device=") + (m_source.isEmpty() ? m_session.monitorSource() : m_source)},
        env, QStringLiteral("/dev/null"));
    if (!m_parec)
        return false;
    m_clock.start();
    connect(m_parec.get(), &QProcess::readyReadStandardOutput, this, &LevelMeter::onData);
    return true;
}

void LevelMeter::onData()
{
    m_pending += m_parec->readAllStandardOutput();
    constexpr qsizetype blockBytes = 44100 / 50 * 4; // 20 ms of stereo s16
    const qint64 now = m_clock.elapsed();
    qsizetype offset = 0;
    while (m_pending.size() - offset >= blockBytes) {
        const auto *samples = reinterpret_cast<const qint16 *>(m_pending.constData() + offset);
        double sum = 0;
        int crossings = 0;
        double peak = 0;
        const qsizetype count = blockBytes / 2;
        for (qsizetype i = 0; i < count; ++i) {
            const double s = samples[i] / 32768.0;
            sum += s * s;
            peak = std::max(peak, std::abs(s));
            if (i % 2 == 0) {
                crossings += m_lastLeft < 0 && samples[i] >= 0;
                m_lastLeft = samples[i];
            }
        }
        m_blocks.push_back({now, sum, count, crossings, peak});
        offset += blockBytes;
    }
    m_pending.remove(0, offset);
}

double LevelMeter::loudestAfter(qint64 fromMs) const
{
    double peak = 0;
    for (const Block &block : m_blocks) {
        if (block.atMs > fromMs)
            peak = std::max(peak, block.peak);
    }
    return peak;
}

// Both over the newest ms of audio received, however late it came: a
// recorder starved on a busy machine delivers in bursts, and a window of
// arrival times would then hold no audio at all, read as silence.
double LevelMeter::recentRms(int ms) const
{
    const qint64 wanted = qint64(ms) * 44100 / 1000;
    double sum = 0;
    qint64 frames = 0;
    for (auto it = m_blocks.rbegin(); it != m_blocks.rend() && frames < wanted; ++it) {
        sum += it->sumSquares;
        frames += it->samples / 2;
    }
    return frames ? std::sqrt(sum / double(frames * 2)) : 0.0;
}

// The pitch over sounding blocks only: a moment of silence (the sound
// server starved) would otherwise read as a lower tone.
double LevelMeter::recentPitchHz(int ms) const
{
    const qint64 wanted = qint64(ms) * 44100 / 1000;
    int crossings = 0;
    qint64 frames = 0;
    for (auto it = m_blocks.rbegin(); it != m_blocks.rend() && frames < wanted; ++it) {
        if (it->samples == 0 || std::sqrt(it->sumSquares / double(it->samples)) <= 0.01)
            continue;
        crossings += it->crossings;
        frames += it->samples / 2;
    }
    return frames ? crossings * 44100.0 / double(frames) : 0.0;
}

qint64 LevelMeter::pitchReachedAfter(qint64 fromMs, double hz, double withinHz) const
{
    constexpr size_t kRun = 3;
    for (size_t i = 0; i + kRun <= m_blocks.size(); ++i) {
        if (m_blocks[i].atMs < fromMs)
            continue;
        int crossings = 0;
        qint64 frames = 0;
        bool sounding = true;
        for (size_t j = i; j < i + kRun; ++j) {
            const Block &b = m_blocks[j];
            sounding = sounding && std::sqrt(b.sumSquares / double(b.samples)) > 0.01;
            crossings += b.crossings;
            frames += b.samples / 2;
        }
        if (sounding && std::abs(crossings * 44100.0 / double(frames) - hz) <= withinHz)
            return m_blocks[i].atMs;
    }
    return -1;
}

qint64 LevelMeter::firstSoundAfter(qint64 fromMs, double threshold) const
{
    for (const Block &block : m_blocks) {
        if (block.atMs < fromMs)
            continue;
        if (std::sqrt(block.sumSquares / double(block.samples)) > threshold)
            return block.atMs;
    }
    return -1;
}

double LevelMeter::quietestBlock(qint64 fromMs, qint64 toMs) const
{
    double quietest = -1;
    for (const Block &block : m_blocks) {
        if (block.atMs < fromMs || block.atMs > toMs || block.samples == 0)
            continue;
        const double rms = std::sqrt(block.sumSquares / double(block.samples));
        quietest = quietest < 0 ? rms : std::min(quietest, rms);
    }
    return quietest;
}

SessionBus::~SessionBus()
{
    if (m_daemon)
        childprocess::stop(m_daemon.get());
}

bool SessionBus::start(bool activation)
{
    QStringList arguments = {QStringLiteral("--session"), QStringLiteral("--nofork"),
                             QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")};
    if (!activation) {
        // The session bus's own settings, but for the service folders.
        QFile session(QStringLiteral("/usr/share/dbus-1/session.conf"));
        m_config = std::make_unique<QTemporaryFile>();
        if (!session.open(QIODevice::ReadOnly) || !m_config->open())
            return false;
        m_config->write(session.readAll().replace("<standard_session_servicedirs />", ""));
        m_config->flush();
        arguments[0] = QStringLiteral("--config-file=") + m_config->fileName();
    }
    m_daemon =
        childprocess::start(QStringLiteral("dbus-daemon"), arguments,
                            QProcessEnvironment::systemEnvironment(), QStringLiteral("/dev/null"));
    if (!m_daemon)
        return false;
    m_address = childprocess::waitForLine(m_daemon.get(), "", 5000);
    if (m_address.isEmpty())
        return false;
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    return true;
}
