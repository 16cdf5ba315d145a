#include "platform/base/Clock.h"
#include "platform/media/ReconnectPolicy.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <functional>

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
