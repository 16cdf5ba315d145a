#include "platform/base/Clock.h"
#include "platform/media/LoudnessLevel.h"
#include "platform/media/LoudnessMemory.h"
#include "platform/media/LoudnessMeter.h"
#include "platform/media/ReconnectPolicy.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

namespace {

// A clock whose steady reading moves only when the test says.
class ManualClock : public Clock {
public:
    ManualClock() { Clock::setShared(this); }
    ~ManualClock() override { Clock::setShared(nullptr); }
    qint64 steadyMs() const override { return now; }
    qint64 now = 1000000;
};

} // namespace

class TestReconnectPolicy : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decisions_data();
    void decisions();
    void levellingGain_data();
    void levellingGain();
    void levellingGainsKeptForRecentStations();
    void loudnessMeterReadings_data();
    void loudnessMeterReadings();
};

void TestReconnectPolicy::decisions_data()
{
    // Events, one decision said for each but "~N", which lets N ms pass
    // unnoticed; "+N" lets them pass and a timer go off.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    const QString waits = "wait 1000, attempt, wait 2000, attempt, wait 4000 probe 2000, attempt, "
                          "wait 8000 probe 2000, attempt, ";
    QTest::newRow("budget spent ten minutes after the drop")
        << "drop +1000 drop +2000 drop +4000 drop +8000 " + QString("drop +10000 ").repeated(58) +
               "drop"
        << waits + QString("wait 10000 probe 2000, attempt, ").repeated(58) + "give up";
    QTest::newRow("the last wait ends at the budget; a timer going off early waits on")
        << "drop +990 +10 ~597000 drop +2000 drop"
        << "wait 1000, wait 10, attempt, wait 2000, attempt, give up";
    QTest::newRow("pauses grow until 30 s of steady sound bring them and the budget back")
        << "drop +1000 open +29000 drop +2000 open +30000 drop +1000 ~590000 drop"
        << "wait 1000, attempt, wait 30000, wait 1000, wait 2000, attempt, wait 30000, steady, "
           "wait 1000, attempt, wait 2000";
    QTest::newRow("reopened unheard, steady from play on; a file's end keeps the outage")
        << "drop +1000 open-unheard +40000 play +30000 drop +1000 open end +30000 drop"
        << "wait 1000, attempt, -, -, wait 30000, steady, wait 1000, attempt, wait 30000, -, -, "
           "wait 2000";
    QTest::newRow("a probe's answer cuts a probed wait short")
        << "drop answer +1000 drop +2000 drop ~3000 answer open"
        << "wait 1000, -, attempt, wait 2000, attempt, wait 4000 probe 2000, attempt, wait 30000";
    QTest::newRow("offline page: the rest of that wait unprobed")
        << "drop +1000 drop +2000 drop +4000 drop ~1500 answer ~200 drop answer +6500 drop"
        << waits + "wait 6500, -, attempt, wait 10000 probe 2000";
    QTest::newRow("network back or a wake cut a wait short, and only a wait")
        << "net wake drop net net drop wake"
        << "-, -, wait 1000, attempt, -, wait 2000, attempt";
    QTest::newRow("a wake reopens a stream on air, the budget counts from it")
        << "drop +1000 open ~20000 wake-on-air drop +2000 ~588000 drop"
        << "wait 1000, attempt, wait 30000, attempt, wait 2000, attempt, wait 4000 probe 2000";
    QTest::newRow("pause forgets the outage")
        << "drop +1000 drop pause answer +5000 drop"
        << "wait 1000, attempt, wait 2000, -, -, -, wait 1000";
}

void TestReconnectPolicy::decisions()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    ManualClock clock;
    ReconnectPolicy policy({});
    using Decision = ReconnectPolicy::Decision;
    using Reason = MediaPlayer::ReconnectReason;
    const QHash<QString, std::function<Decision()>> events = {
        {"+", [&] { return policy.timePassed(); }},
        {"drop", [&] { return policy.dropped(); }},
        {"answer", [&] { return policy.probeAnswered(); }},
        {"open", [&] { return policy.reopened(true); }},
        {"open-unheard", [&] { return policy.reopened(false); }},
        {"play", [&] { return policy.listening(); }},
        {"net", [&] { return policy.reconnectNow(Reason::NetworkBack, true); }},
        {"wake", [&] { return policy.reconnectNow(Reason::Resumed, false); }},
        {"wake-on-air", [&] { return policy.reconnectNow(Reason::Resumed, true); }},
        {"end", [&] { return policy.ended(), Decision{}; }},
        {"pause", [&] { return policy.stop(), Decision{}; }},
    };
    const QStringList steps = {"-", "wait", "attempt", "give up", "steady"};
    QStringList said;
    for (const QString &event : script.split(' ', Qt::SkipEmptyParts)) {
        const bool passing = event.front() == '+' || event.front() == '~';
        clock.now += passing ? event.mid(1).toInt() : 0;
        if (event.front() == '~')
            continue;
        const Decision d = events.value(passing ? QStringLiteral("+") : event)();
        said << steps.at(int(d.step)) + (d.ms ? QStringLiteral(" %1").arg(d.ms) : QString()) +
                    (d.probeMs ? QStringLiteral(" probe %1").arg(d.probeMs) : QString());
    }
    QCOMPARE(said.join(", "), expected);
}

ORBITUNE_CORE_TEST_MAIN(TestReconnectPolicy)
#include "tst_reconnectpolicy.moc"

void TestReconnectPolicy::levellingGain_data()
{
    // Seconds of the station's loudness, "LUFS*N" (one reading and one
    // step a second; "silence" is digital silence), or "~N": N ms pass
    // between two steps (a suspend). The gain starts at `start` (NaN: at
    // 0 dB, nothing learned); target -18 LUFS.
    QTest::addColumn<double>("start");
    QTest::addColumn<QString>("script");
    QTest::addColumn<double>("gain");
    const double none = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("a station met first lifted 4 dB a second once five readings taught it")
        << none << "-30*6" << 8.0;
    QTest::newRow("then followed at 1 dB a second") << none << "-30*8 -10*3" << 9.0;
    QTest::newRow("a station learned before lowered only 1 dB a second") << 12.0 << "-26*8" << 8.0;
    QTest::newRow("lifted no further than +12 dB") << none << "-40*40" << 12.0;
    QTest::newRow("lowered no further than -12 dB") << none << "-2*40" << -12.0;
    QTest::newRow("a loud station lowered to the target") << none << "-8*30" << -10.0;
    QTest::newRow("a station at the target left alone") << none << "-18*30" << 0.0;
    QTest::newRow("a gain learned before applies at once") << 7.0 << "silence*1" << 7.0;
    QTest::newRow("lowered from a gain learned before at 1 dB a second") << 6.0 << "-18*8" << 2.0;
    QTest::newRow("minutes of digital silence teach nothing") << 3.0 << "silence*300" << 3.0;
    QTest::newRow("readings under the absolute gate teach nothing") << 3.0 << "-75*60" << 3.0;
    QTest::newRow("a listen of a few seconds keeps what was learned") << -6.0 << "-30*4" << -6.0;
    QTest::newRow("pauses 10 LU under the rest are gated out")
        << none << "-10*1 -35*1 -10*1 -35*1 -10*1 -35*1 -10*1 -35*1 -10*1 -35*1 -10*30" << -8.0;
    QTest::newRow("a station that turns quiet is followed slowly")
        << none << "-10*40 -26*60" << 8.0;
    QTest::newRow("a suspend between two steps moves at most 2 s of it")
        << 0.0 << "-40*5 ~600000 -40*1" << 3.0;
}

void TestReconnectPolicy::levellingGain()
{
    QFETCH(double, start);
    QFETCH(QString, script);
    QFETCH(double, gain);
    ManualClock clock;
    LoudnessLevel level(LoudnessLevel::kDefaultTargetLufs,
                        std::isnan(start) ? std::nullopt : std::optional<double>(start));
    QCOMPARE(level.advance(), std::isnan(start) ? 0.0 : start);
    for (const QString &step : script.split(QLatin1Char(' '))) {
        if (step.startsWith(QLatin1Char('~'))) {
            clock.now += step.mid(1).toLongLong();
            continue;
        }
        const QString what = step.section(QLatin1Char('*'), 0, 0);
        const double lufs = what == QLatin1String("silence")
                                ? -std::numeric_limits<double>::infinity()
                                : what.toDouble();
        for (int i = step.section(QLatin1Char('*'), 1).toInt(); i > 0; --i) {
            clock.now += 1000;
            level.addReading(lufs);
            level.advance();
        }
    }
    QVERIFY2(std::abs(level.gainDb() - gain) < 1e-6, qPrintable(QString::number(level.gainDb())));
}

void TestReconnectPolicy::levellingGainsKeptForRecentStations()
{
    // What a station taught is kept for the most recent stations only, the
    // one played again moved to the front; a value set by hand out of
    // bounds is not taken.
    for (int i = 0; i <= loudnessmemory::kStations; ++i)
        loudnessmemory::remember(QStringLiteral("http://s/%1").arg(i), 3.0);
    loudnessmemory::remember(QStringLiteral("http://s/1"), -4.0);
    loudnessmemory::remember(QStringLiteral("http://s/new"), 40.0);
    QVERIFY(!loudnessmemory::recall(QStringLiteral("http://s/0")));
    QCOMPARE(loudnessmemory::recall(QStringLiteral("http://s/1")).value_or(99), -4.0);
    QVERIFY(!loudnessmemory::recall(QStringLiteral("http://s/2")));
    QCOMPARE(loudnessmemory::recall(QStringLiteral("http://s/3")).value_or(99), 3.0);
    QVERIFY(!loudnessmemory::recall(QStringLiteral("http://s/new")));
}

void TestReconnectPolicy::loudnessMeterReadings_data()
{
    // A steady 1 kHz tone at `amplitude` (48 kHz, stereo), fed in quarter
    // seconds: the reading at each whole second, the first ones included,
    // is the tone's own loudness (a full-scale sine is -3.01 LUFS per
    // channel at 1 kHz, +3.01 for two). Zero is digital silence.
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("lufs");
    QTest::newRow("loud: the first seconds read as loud as the rest") << 0.5 << -6.02;
    QTest::newRow("quiet: the same") << 0.05 << -26.02;
    QTest::newRow("digital silence") << 0.0 << -std::numeric_limits<double>::infinity();
}

void TestReconnectPolicy::loudnessMeterReadings()
{
    QFETCH(double, amplitude);
    QFETCH(double, lufs);
    constexpr unsigned kRate = 48000;
    LoudnessMeter meter;
    meter.setFormat(2, kRate);
    std::vector<float> quarter(2 * kRate / 4);
    size_t frame = 0;
    QStringList readings;
    for (int q = 1; q <= 24; ++q) {
        for (size_t i = 0; i < quarter.size(); i += 2, ++frame)
            quarter[i] = quarter[i + 1] =
                float(amplitude * std::sin(2 * M_PI * 1000.0 * double(frame) / kRate));
        meter.addFrames(quarter.data(), quarter.size() / 2);
        if (q % 4)
            continue;
        const std::optional<double> reading = meter.take();
        QVERIFY(reading);
        if (std::isinf(lufs) ? !std::isinf(*reading) : std::abs(*reading - lufs) > 0.3)
            readings << QString::number(*reading);
    }
    QVERIFY2(readings.isEmpty(), qPrintable(readings.join(", ")));
    // Nothing new since: no reading.
    QVERIFY(!meter.take());
}
