// Recording with the real player against a loopback Icecast: one file per
// song as the titles change through the admin interface, "save last song",
// an Ogg stream, and the bad days (a full or read-only folder, kill -9),
// every file checked by decoding it.
#include "support/AudioSession.h"
#include "support/ChildProcess.h"
#include "support/StreamServers.h"
#include "support/TestEnv.h"

#include "alarm/Alarm.h"
#include "platform/base/Clock.h"
#include "platform/media/GstHandles.h"
#include "platform/media/GstMediaPlayer.h"
#include "record/BackgroundRecording.h"
#include "record/Recorder.h"
#include "session/PlaybackSession.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>

namespace {

// What decoding a file gives: whether it decoded to its end without an
// error, and how long it plays.
struct Decoded {
    bool ok = false;
    QString error;
    double seconds = 0;
    QString album; // from the file's tags
    QString title;
};

void countBytes(GstElement *, GstBuffer *buffer, GstPad *, gpointer bytes)
{
    *static_cast<std::atomic<qint64> *>(bytes) += qint64(gst_buffer_get_size(buffer));
}

Decoded decode(const QString &path)
{
    Decoded out;
    if (!GstMediaPlayer::ensureInitialized())
        return out;
    gsthandle::Error error;
    gsthandle::Pipeline pipeline(
        gst_parse_launch("filesrc name=src ! decodebin ! audioconvert ! audioresample ! "
                         "audio/x-raw,format=S16LE,channels=2,rate=44100 ! "
                         "fakesink name=sink sync=false signal-handoffs=true",
                         gsthandle::out(error)));
    if (!pipeline) {
        out.error = QString::fromUtf8(error ? error->message : "no pipeline");
        return out;
    }
    const gsthandle::Object<GstElement> src(gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
    const gsthandle::Object<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    g_object_set(src.get(), "location", QFile::encodeName(path).constData(), nullptr);
    std::atomic<qint64> bytes = 0;
    g_signal_connect(sink.get(), "handoff", G_CALLBACK(countBytes), &bytes);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    const gsthandle::Object<GstBus> bus(gst_element_get_bus(pipeline.get()));
    gsthandle::Message message;
    for (;;) {
        message.reset(gst_bus_timed_pop_filtered(
            bus.get(), 30 * GST_SECOND,
            GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_TAG)));
        if (!message || GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_TAG)
            break;
        gsthandle::TagList tags;
        gst_message_parse_tag(message.get(), gsthandle::out(tags));
        gsthandle::Chars text;
        if (gst_tag_list_get_string(tags.get(), GST_TAG_ALBUM, gsthandle::out(text)))
            out.album = QString::fromUtf8(text.get());
        if (gst_tag_list_get_string(tags.get(), GST_TAG_TITLE, gsthandle::out(text)))
            out.title = QString::fromUtf8(text.get());
    }
    if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) {
        out.ok = true;
    } else if (message) {
        gsthandle::Error err;
        gst_message_parse_error(message.get(), gsthandle::out(err), nullptr);
        out.error = QString::fromUtf8(err ? err->message : "error");
    } else {
        out.error = QStringLiteral("no end within 30 s");
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    out.seconds = double(bytes) / (4 * 44100);
    return out;
}

QStringList filesIn(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

QString childFolder()
{
    return qEnvironmentVariable("ORBITUNE_RECORD_CHILD_FOLDER");
}

void choose(const QString &name, const QUrl &url)
{
    QVERIFY(
        CacheManager::shareIntance()->saveLiveData(program::make(name, QString(), url.toString())));
}

} // namespace

class RecordEndToEndTest : public QObject {
    Q_OBJECT

    AudioSession audio;
    StreamServers servers;
    GstMediaPlayerFactory factory;
    QTemporaryDir music;

    Recorder::Options options(const QString &folder) const
    {
        Recorder::Options o;
        o.folder = folder;
        o.pollMs = 100;
        return o;
    }

    // Plays `url` in `session` until its title is known.
    void playUntilTitled(PlaybackSession &session, const QString &name, const QUrl &url)
    {
        choose(name, url);
        session.playCurrent();
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), PlaybackSession::State::Playing, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!session.nowPlaying().isEmpty(), 10000);
    }

    // Sets the station's title and waits until it is heard; where the play
    // position then is (the time heard, which a stall of the sound does not
    // advance, as the wall clock would), or -1.
    qint64 announce(PlaybackSession &session, const QString &title)
    {
        if (!servers.setTitle(QStringLiteral("/live.mp3"), title))
            return -1;
        QDeadlineTimer deadline(10000);
        while (session.nowPlaying() != title && !deadline.hasExpired())
            QTest::qWait(5);
        return session.nowPlaying() == title ? session.positionMs() : -1;
    }

    // Runs this program again as a child that records until it is killed
    // or its folder fails; `wrapper` (unshare ...) goes in front.
    std::unique_ptr<QProcess> startChild(const QString &folder, const QStringList &wrapper = {},
                                         bool scheduled = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (scheduled)
            env.insert(QStringLiteral("ORBITUNE_RECORD_CHILD_SCHEDULED"), QStringLiteral("1"));
        env.insert(QStringLiteral("ORBITUNE_RECORD_CHILD_FOLDER"), folder);
        env.insert(QStringLiteral("ORBITUNE_RECORD_CHILD_URL"), servers.mp3Url().toString());
        env.insert(QStringLiteral("PULSE_SERVER"), audio.serverAddress());
        QStringList args = wrapper;
        args << QCoreApplication::applicationFilePath() << QStringLiteral("childRecords");
        return childprocess::start(args.takeFirst(), args, env);
    }

private Q_SLOTS:
    void initTestCase()
    {
        MediaPlayerFactory::setShared(&factory);
        if (!childFolder().isEmpty())
            return; // the child plays what its parent serves
        QVERIFY2(audio.start(), qPrintable(audio.errorString()));
        QVERIFY2(servers.start(), qPrintable(servers.errorString()));
    }

    void cleanupTestCase() { MediaPlayerFactory::setShared(nullptr); }
    void init() { ORBITUNE_SKIP_IF_RUN_ELSEWHERE(); }

    void recordsOneFilePerSongAndSavesTheLastOne()
    {
        if (!childFolder().isEmpty())
            QSKIP("the child only records");
        const QString folder = music.filePath(QStringLiteral("songs"));
        PlaybackSession session;
        Recorder recorder(&session, options(folder));
        QSignalSpy written(&recorder, &Recorder::fileWritten);
        playUntilTitled(session, QStringLiteral("Tone / MP3"), servers.mp3Url());
        recorder.setRecording(true);
        QVERIFY(recorder.isRecording());

        QTest::qWait(1500);
        const qint64 a = announce(session, QStringLiteral("Artist A - Song A"));
        QTest::qWait(4000);
        const qint64 b = announce(session, QStringLiteral("Artist B - Song B"));
        QTest::qWait(3000);
        const qint64 c = announce(session, QStringLiteral("Artist C - Song C"));
        QVERIFY(a > 0 && b > 0 && c > 0);
        // The songs A and B are written as they end.
        QTRY_VERIFY_WITH_TIMEOUT(written.size() >= 3, 10000);
        QVERIFY(recorder.canSaveLastSong());
        // Read where time-shift keeps the stream, not copied for the recorder.
        QCOMPARE(recorder.buffer()->heldBytes(), qint64(0));
        QVERIFY(recorder.saveLastSong());
        QTRY_COMPARE_WITH_TIMEOUT(written.size(), 4, 10000);
        QTest::qWait(1000);
        session.pause(); // recording follows the session
        QVERIFY(!recorder.isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(written.size(), 5, 10000);

        const QString dir = folder + QStringLiteral("/Tone _ MP3");
        const QStringList names = QDir(dir).entryList(QDir::Files, QDir::Name);
        QCOMPARE(names.size(), 5);
        const QRegularExpression pattern(QStringLiteral(
            R"(^\d{4}-\d\d-\d\d \d\d\.\d\d\.\d\d – (.*?)( \(2\))?( \(partial\))?\.mp3$)"));
        QStringList songs;
        for (const QString &name : names) {
            const auto m = pattern.match(name);
            QVERIFY2(m.hasMatch(), qPrintable(name));
            songs << m.captured(1) + m.captured(3);
        }
        songs.sort();
        QCOMPARE(songs, (QStringList{QStringLiteral("Artist A - Song A"),
                                     QStringLiteral("Artist B - Song B"),
                                     QStringLiteral("Artist B - Song B"),
                                     QStringLiteral("Artist C - Song C (partial)"),
                                     QStringLiteral("Fixture - Live-Tone (partial)")}));

        // Each song lasts from its title change to the next, as heard.
        // Written in this order: the song joined, A, B, B saved, C.
        const QString recordedB = written.at(2).at(0).toString();
        const QString savedB = written.at(3).at(0).toString();
        const struct {
            QString path;
            double expected;
        } spans[] = {{written.at(1).at(0).toString(), (b - a) / 1000.0},
                     {recordedB, (c - b) / 1000.0},
                     {savedB, (c - b) / 1000.0}};
        for (const auto &span : spans) {
            const Decoded d = decode(span.path);
            QVERIFY2(d.ok, qPrintable(span.path + QStringLiteral(": ") + d.error));
            QVERIFY2(qAbs(d.seconds - span.expected) <= 0.5,
                     qPrintable(QStringLiteral("%1: %2 s, heard %3 s")
                                    .arg(span.path)
                                    .arg(d.seconds)
                                    .arg(span.expected)));
        }
        // Saved from the buffer or recorded: the same bytes.
        QFile recorded(recordedB);
        QFile saved(savedB);
        QVERIFY(recorded.open(QIODevice::ReadOnly) && saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), recorded.readAll());
        // Tagged for the music library.
        recorded.seek(0);
        const QByteArray head = recorded.read(200);
        QVERIFY(head.startsWith("ID3\x04"));
        QVERIFY(head.contains("TIT2") && head.contains("Song B") && head.contains("Artist B") &&
                head.contains("Tone / MP3"));
        for (const QString &path : filesIn(folder)) {
            const Decoded d = decode(path);
            QVERIFY2(d.ok, qPrintable(path + QStringLiteral(": ") + d.error));
            QCOMPARE(d.album, QStringLiteral("Tone / MP3"));
        }
    }

    void otherFormatsAreRecordedAsSent_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("icecast");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("tagged");
        QTest::newRow("Ogg Vorbis: the stream headers in front, our comments")
            << QStringLiteral("/live.ogg") << true
            << QStringLiteral("Fixture - Live-Tone (partial).ogg") << true;
        QTest::newRow("ADTS AAC") << QStringLiteral("/live.aac") << false
                                  << QStringLiteral("(partial).aac") << false;
        QTest::newRow("HLS: the AAC of its transport stream")
            << QStringLiteral("/hls/live.m3u8") << false << QStringLiteral("(partial).aac")
            << false;
        QTest::newRow("HLS: the AAC of its fMP4 fragments")
            << QStringLiteral("/hls/live-fmp4.m3u8") << false << QStringLiteral("(partial).aac")
            << false;
    }

    void otherFormatsAreRecordedAsSent()
    {
        if (!childFolder().isEmpty())
            QSKIP("the child only records");
        QFETCH(QString, path);
        QFETCH(bool, icecast);
        QFETCH(QString, ending);
        QFETCH(bool, tagged);
        const QString folder = music.filePath(QStringLiteral("formats"));
        PlaybackSession session;
        Recorder recorder(&session, options(folder));
        QSignalSpy written(&recorder, &Recorder::fileWritten);
        choose(QStringLiteral("Format"),
               icecast ? servers.icecastUrl(path) : servers.httpUrl(path));
        QElapsedTimer playing;
        playing.start();
        session.playCurrent();
        QTRY_COMPARE_WITH_TIMEOUT(session.state(), PlaybackSession::State::Playing, 20000);
        QTest::qWait(1500); // the recording begins inside the stream
        recorder.setRecording(true);
        QVERIFY(recorder.isRecording());
        QTest::qWait(4000);
        // Read where time-shift keeps it, live HLS's audio included.
        QCOMPARE(recorder.buffer()->heldBytes(), qint64(0));
        recorder.setRecording(false);
        QTRY_COMPARE_WITH_TIMEOUT(written.size(), 1, 10000);
        const QString file = written.at(0).at(0).toString();
        QVERIFY2(file.endsWith(ending), qPrintable(file));
        const Decoded d = decode(file);
        QVERIFY2(d.ok, qPrintable(d.error));
        // Pages and segments arrive in bursts, seconds apart on a busy
        // machine: the file holds at least what played as recording began,
        // and no more than the station can have sent.
        QVERIFY2(d.seconds > 0 && d.seconds < playing.elapsed() / 1000.0 + 8,
                 qPrintable(QString::number(d.seconds)));
        if (tagged) {
            QCOMPARE(d.album, QStringLiteral("Format"));
            QCOMPARE(d.title, QStringLiteral("Live-Tone"));
        }
    }

    // A scheduled recording of another station on a connection of its own:
    // nothing of it is heard, the station heard plays on without a gap, and
    // the file decodes, in the folder of the program and the date.
    void recordsAnotherProgramBesideTheOnePlaying_data()
    {
        QTest::addColumn<bool>("heard");
        QTest::newRow("beside the program heard") << true;
        QTest::newRow("alone: silent") << false;
    }

    void recordsAnotherProgramBesideTheOnePlaying()
    {
        if (!childFolder().isEmpty())
            QSKIP("the child only records");
        QFETCH(bool, heard);
        LevelMeter meter(audio);
        QVERIFY(meter.start());
        PlaybackSession session;
        if (heard) {
            playUntilTitled(session, QStringLiteral("Heard"), servers.mp3Url());
            QTRY_VERIFY_WITH_TIMEOUT(meter.recentRms(300) > 0.01, 10000);
        }
        const QString folder = music.filePath(heard ? QStringLiteral("beside") : "alone");
        BackgroundRecording away(
            program::make(QStringLiteral("Away"), QString(), servers.oggUrl().toString()),
            QDate(2026, 12, 9), options(folder));
        QSignalSpy written(&away, &BackgroundRecording::fileWritten);
        const qint64 from = meter.elapsedMs();
        away.start();
        QTRY_VERIFY_WITH_TIMEOUT(away.isRecording(), 20000);
        QTest::qWait(3000); // the length of the recording
        away.recorder()->setRecording(false);
        QTRY_COMPARE_WITH_TIMEOUT(written.size(), 1, 10000);
        const QString file = written.at(0).at(0).toString();
        QVERIFY2(file.contains(QStringLiteral("/Away 2026-12-09/")), qPrintable(file));
        const Decoded d = decode(file);
        QVERIFY2(d.ok && d.seconds > 0, qPrintable(d.error));
        if (heard) {
            QCOMPARE(session.state(), PlaybackSession::State::Playing);
            QVERIFY(meter.quietestBlock(from, meter.elapsedMs()) > 0.005);
        } else {
            QVERIFY(meter.recentRms(int(meter.elapsedMs() - from)) < 0.001);
        }
    }

    // An alarm whose station is down: the built-in tone is heard at the
    // audio server instead, and Stop silences it.
    void alarmOnADownStationRingsTheTone()
    {
        if (!childFolder().isEmpty())
            QSKIP("the child only records");
        LevelMeter meter(audio);
        QVERIFY(meter.start());
        Clock::shared()->setTimeScale(0.05); // the 20 s wait for sound in 1 s
        PlaybackSession session;
        Alarm alarm(&session, [&session](const QVariantMap &program) {
            CacheManager::shareIntance()->saveLiveData(program);
            session.playCurrent();
            return true;
        });
        alarm.ring(
            {program::make(QStringLiteral("Down"), QString(), servers.refusedUrl().toString()),
             QStringLiteral("Wake"), 0.8, 0});
        QTRY_VERIFY_WITH_TIMEOUT(alarm.isToneRinging(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(meter.recentRms(1200) > 0.05, 10000);
        alarm.stop();
        QVERIFY(!alarm.isToneRinging());
        QTRY_VERIFY_WITH_TIMEOUT(meter.recentRms(300) < 0.002, 10000);
        Clock::shared()->setTimeScale(1.0);
    }

    void badDays_data()
    {
        QTest::addColumn<QString>("day");
        QTest::newRow("disk fills: told once, the files play") << QStringLiteral("full");
        QTest::newRow("read-only folder: told once") << QStringLiteral("readonly");
        QTest::newRow("disk fills in a scheduled recording: told once, the files play")
            << QStringLiteral("scheduled full");
        QTest::newRow("kill -9: the files play up to the cut") << QStringLiteral("kill");
    }

    void badDays()
    {
        if (!childFolder().isEmpty())
            QSKIP("the child only records");
        QFETCH(QString, day);
        const QString folder = music.filePath(QStringLiteral("bad-") + day);
        QVERIFY(QDir().mkpath(folder));
        if (day == QLatin1String("kill")) {
            auto child = startChild(folder);
            QVERIFY(child);
            QVERIFY(!childprocess::waitForLine(child.get(), "recording", 30000).isEmpty());
            QVERIFY(servers.setTitle(QStringLiteral("/live.mp3"), QStringLiteral("Before cut")));
            const QString first = childprocess::waitForLine(child.get(), "file ", 15000);
            QVERIFY(!first.isEmpty());
            // Killed once the next song's file holds a few seconds, however
            // slowly a busy machine writes it (that song's own file: the one
            // before may be as long, when the title took a while to come).
            const auto cutBytes = [&] {
                qint64 most = 0;
                for (const QString &path : filesIn(folder))
                    if (path.contains(QLatin1String("Before cut")) && !first.contains(path))
                        most = qMax(most, QFileInfo(path).size());
                return most;
            };
            QTRY_VERIFY_WITH_TIMEOUT(cutBytes() >= 48000, 20000);
            ::kill(pid_t(child->processId()), SIGKILL);
            QVERIFY(child->waitForFinished(5000));
            const QStringList files = filesIn(folder);
            QCOMPARE(files.size(), 2); // the song finished, and the one cut
            // The first song is as long as the station took to change its
            // title after recording began; the cut one holds seconds.
            for (const QString &path : files) {
                const Decoded d = decode(path);
                const double least = path.contains(QLatin1String("Before cut")) ? 1.0 : 0.0;
                // What the file holds is told too: a failure seen once under
                // load left no file to look at.
                QFile held(path);
                const QByteArray start =
                    held.open(QIODevice::ReadOnly) ? held.read(16) : QByteArray();
                QVERIFY2(d.ok && d.seconds > least,
                         qPrintable(QStringLiteral("%1: %2 s %3 (%4 bytes, starting %5)")
                                        .arg(path)
                                        .arg(d.seconds)
                                        .arg(d.error)
                                        .arg(held.size())
                                        .arg(QString::fromLatin1(start.toHex(' ')))));
            }
            return;
        }
        if (QProcess::execute(QStringLiteral("unshare"),
                              {QStringLiteral("-rm"), QStringLiteral("true")}) != 0)
            QSKIP("unshare -rm is not available: no private tmpfs for a full disk");
        // A private tmpfs over the folder, full after a few seconds or
        // read-only, mounted in a user namespace the child runs in.
        const bool full = day.endsWith(QLatin1String("full"));
        const QString mountOptions = full ? QStringLiteral("size=96k") : QStringLiteral("ro");
        auto child = startChild(
            folder,
            {QStringLiteral("unshare"), QStringLiteral("-rm"), QStringLiteral("sh"),
             QStringLiteral("-c"),
             QStringLiteral("mount -t tmpfs -o %1 none \"$0\" && exec \"$@\"").arg(mountOptions),
             folder},
            day.startsWith(QLatin1String("scheduled")));
        QVERIFY(child);
        QVERIFY(!childprocess::waitForLine(child.get(), "recording", 30000).isEmpty());
        if (full)
            QVERIFY(servers.setTitle(QStringLiteral("/live.mp3"), QStringLiteral("Filling")));
        const QString verdict = childprocess::waitForLine(child.get(), "checked ", 40000);
        QVERIFY2(child->waitForFinished(10000), "the child must end after a failure");
        const QStringList report = verdict.split(QLatin1Char(' '));
        // failures told, files found, files that decoded
        QCOMPARE(report.value(0), QStringLiteral("1"));
        QCOMPARE(report.value(2), report.value(1));
        if (full)
            QVERIFY(report.value(1).toInt() >= 1);
    }

    // The child: records the stream its parent names until it is killed, or
    // until writing fails; then checks what it wrote.
    void childRecords()
    {
        if (childFolder().isEmpty())
            QSKIP("run as a child by badDays");
        Clock::shared()->setTimeScale(1.0);
        const QUrl url(qEnvironmentVariable("ORBITUNE_RECORD_CHILD_URL"));
        const auto printFile = [](const QString &path) {
            printf("file %s\n", qPrintable(path));
            fflush(stdout);
        };
        PlaybackSession session;
        std::unique_ptr<Recorder> recorder;
        std::unique_ptr<BackgroundRecording> scheduled;
        std::unique_ptr<QSignalSpy> spy;
        if (qEnvironmentVariableIsSet("ORBITUNE_RECORD_CHILD_SCHEDULED")) {
            scheduled = std::make_unique<BackgroundRecording>(
                program::make(QStringLiteral("Child"), QString(), url.toString()),
                QDate::currentDate(), options(childFolder()));
            spy = std::make_unique<QSignalSpy>(scheduled.get(), &BackgroundRecording::failed);
            connect(scheduled.get(), &BackgroundRecording::fileWritten, this, printFile);
            scheduled->start();
            QTRY_VERIFY_WITH_TIMEOUT(scheduled->isRecording(), 20000);
        } else {
            recorder = std::make_unique<Recorder>(&session, options(childFolder()));
            spy = std::make_unique<QSignalSpy>(recorder.get(), &Recorder::failed);
            connect(recorder.get(), &Recorder::fileWritten, this, printFile);
            playUntilTitled(session, QStringLiteral("Child"), url);
            recorder->setRecording(true);
            QVERIFY(recorder->isRecording());
        }
        QSignalSpy &failed = *spy;
        printf("recording now\n");
        fflush(stdout);
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), 30000);
        QTest::qWait(1500); // said once, however many writes fail
        QThreadPool::globalInstance()->waitForDone();
        int decoded = 0;
        const QStringList files = filesIn(childFolder());
        for (const QString &path : files)
            decoded += decode(path).ok ? 1 : 0;
        printf("checked %d %d %d\n", int(failed.size()), int(files.size()), decoded);
        fflush(stdout);
    }
};

ORBITUNE_CORE_TEST_MAIN(RecordEndToEndTest)
#include "tst_record_e2e.moc"
