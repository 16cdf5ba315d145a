#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <memory>
#include <vector>

// A private PulseAudio daemon whose default sink is a null sink, so tests
// can play real audio and measure what comes out; addSink() makes another,
// for what another program (a network renderer) plays, heard apart. start() points
// this process at it (PULSE_SERVER, PULSE_RUNTIME_PATH); the daemon is
// stopped by PID when the object goes away.
class AudioSession {
public:
    static constexpr const char *kSinkName = "orbitune_null";

    AudioSession();
    ~AudioSession();
    AudioSession(const AudioSession &) = delete;
    AudioSession &operator=(const AudioSession &) = delete;

    bool start();
    QString serverAddress() const { return m_server; }
    QString monitorSource() const { return QString::fromLatin1(kSinkName) + ".monitor"; }
    // One more null sink, `name`; the default stays as it was.
    bool addSink(const QString &name);
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QString m_server;
    QString m_error;
    std::unique_ptr<QProcess> m_daemon;
};

// Records the null sink's monitor with parec and keeps the RMS level of each
// 20 ms block with the time it arrived. Works while the Qt event loop runs
// (QTRY_VERIFY, QSignalSpy::wait).
class LevelMeter : public QObject {
    Q_OBJECT
public:
    // Records the default sink's monitor, or the source named.
    explicit LevelMeter(const AudioSession &session, const QString &source = QString(),
                        QObject *parent = nullptr);
    ~LevelMeter() override;

    bool start();
    // RMS (0..1 of full scale) over the newest ms of audio.
    double recentRms(int ms) const;
    // Milliseconds since start() of the first block after fromMs whose RMS
    // exceeds threshold, or -1.
    qint64 firstSoundAfter(qint64 fromMs, double threshold = 0.01) const;
    // The lowest RMS of the blocks that arrived between fromMs and toMs (a
    // gap in the sound shows as a block near 0), or -1 without blocks.
    double quietestBlock(qint64 fromMs, qint64 toMs) const;
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    // The pitch of a tone over the newest ms of audio, from its zero crossings.
    double recentPitchHz(int ms) const;
    // Milliseconds since start() of the first of three sounding blocks
    // after fromMs whose pitch is within withinHz of hz, or -1.
    qint64 pitchReachedAfter(qint64 fromMs, double hz, double withinHz) const;
    // The loudest sample of the blocks that arrived after fromMs.
    double loudestAfter(qint64 fromMs) const;
    // Number of 20 ms blocks received so far.
    qsizetype blockCount() const { return qsizetype(m_blocks.size()); }

private:
    void onData();

    struct Block {
        qint64 atMs;
        double sumSquares;
        qint64 samples;
        int crossings = 0; // of the left channel, upwards
        double peak = 0;   // the loudest sample, 0..1 of full scale
    };
    const AudioSession &m_session;
    QString m_source;
    std::unique_ptr<QProcess> m_parec;
    QByteArray m_pending;
    std::vector<Block> m_blocks;
    qint16 m_lastLeft = 0;
    QElapsedTimer m_clock;
};

// A private D-Bus session bus (dbus-daemon --session); start() exports
// DBUS_SESSION_BUS_ADDRESS for this process. Without `activation` the bus
// starts no service by itself: a name is there only while the test's own
// process holds it.
class SessionBus {
public:
    SessionBus() = default;
    ~SessionBus();
    bool start(bool activation = true);
    QString address() const { return m_address; }

private:
    QString m_address;
    std::unique_ptr<QTemporaryFile> m_config;
    std::unique_ptr<QProcess> m_daemon;
};
