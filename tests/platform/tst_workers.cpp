// The ways work leaves the main thread: the serial worker keeps the order of
// its tasks and finishes them, and a result comes back, on the receiver's
// thread, only to a receiver that still lives.
#include "support/TestEnv.h"

#include "platform/base/AsyncTask.h"
#include "platform/base/SerialWorker.h"

#include <QThreadPool>
#include <QtTest>

#include <future>
#include <numeric>

enum class Receiver { Lives, GoesDuringWork, GoesWithResultQueued };

class WorkersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serialTasksRunInOrderAndAllOfThem_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("waited for") << false;
        QTest::newRow("finished by the destructor, a pausing task ending") << true;
    }
    void serialTasksRunInOrderAndAllOfThem()
    {
        QFETCH(bool, destroy);
        std::vector<int> ran; // the worker's thread only, until waited for
        std::promise<void> gate;
        auto worker = std::make_unique<SerialWorker>(QStringLiteral("test"));
        worker->post([&, w = worker.get(), open = gate.get_future().share()] {
            if (destroy) {
                while (w->pause(5)) {
                }
            } else {
                open.wait();
            }
            ran.push_back(0);
        });
        for (int i = 1; i < 100; ++i)
            worker->post([&ran, i] { ran.push_back(i); });
        gate.set_value();
        destroy ? worker.reset() : worker->wait();
        std::vector<int> expected(100);
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(ran, expected);
    }

    void idleWorkIsWaitedFor()
    {
        int left = 0, steps = 0;
        SerialWorker worker(QStringLiteral("test"), [&] {
            if (left == 0)
                return false;
            ++steps;
            return --left > 0;
        });
        worker.post([&left] { left = 100000; });
        worker.waitUntilIdle();
        QCOMPARE(steps, 100000);
    }

    void resultsReachOnlyALivingReceiver_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<Receiver>("receiver");
        for (bool serial : {false, true}) {
            const char *on = serial ? "serial worker" : "pool";
            QTest::addRow("%s: lives", on) << serial << Receiver::Lives;
            QTest::addRow("%s: goes during the work", on) << serial << Receiver::GoesDuringWork;
            QTest::addRow("%s: goes with the result queued", on)
                << serial << Receiver::GoesWithResultQueued;
        }
    }
    void resultsReachOnlyALivingReceiver()
    {
        QFETCH(bool, serial);
        QFETCH(Receiver, receiver);
        SerialWorker worker(QStringLiteral("test"));
        auto target = std::make_unique<QObject>();
        std::promise<void> gate;
        int result = 0;
        QThread *deliveredOn = nullptr;
        auto work = [open = gate.get_future().share()] {
            open.wait();
            return 42;
        };
        auto then = [&](int value) {
            result = value;
            deliveredOn = QThread::currentThread();
        };
        serial ? worker.post(target.get(), work, then) : asynctask::run(target.get(), work, then);
        if (receiver == Receiver::GoesDuringWork)
            target.reset();
        gate.set_value();
        serial ? worker.wait() : void(QThreadPool::globalInstance()->waitForDone());
        if (receiver == Receiver::GoesWithResultQueued)
            target.reset();
        if (receiver == Receiver::Lives) {
            QTRY_COMPARE(result, 42);
            QCOMPARE(deliveredOn, thread());
        } else {
            QCoreApplication::sendPostedEvents();
            QCOMPARE(result, 0);
        }
    }
};

ORBITUNE_CORE_TEST_MAIN(WorkersTest)
#include "tst_workers.moc"
