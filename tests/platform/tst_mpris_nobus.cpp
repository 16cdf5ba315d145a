// Without any session bus (a headless session, a container) the service must
// say so once and leave the application running.

#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "platform/base/Log.h"
#include "platform/desktop/MprisService.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

class TestMprisNoBus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startFailsWithOneLogLine()
    {
        QVERIFY(qgetenv("DBUS_SESSION_BUS_ADDRESS").contains("nonexistent"));
        LogRecorder log;
        const QStringList &lines = log.lines;

        auto *service = new MprisService;
        QSignalSpy play(service, &MprisService::playRequested);
        QVERIFY(!service->start());
        QVERIFY(!service->start()); // asking again is harmless and not logged again
        QVERIFY(!service->isRegistered());
        QVERIFY(service->serviceName().isEmpty());

        service->setPlaybackStatus(MprisService::PlaybackStatus::Playing);
        service->setMetadata({QStringLiteral("t"), QStringLiteral("Title"),
                              QStringLiteral("Artist"), QString(),
                              QUrl(QStringLiteral("http://127.0.0.1/a.png"))});
        QCOMPARE(service->playbackStatus(), MprisService::PlaybackStatus::Playing);
        QCOMPARE(service->metadata().value("xesam:title").toString(), QStringLiteral("Title"));
        delete service;

        QCOMPARE(play.count(), 0);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QStringLiteral("MPRIS: no D-Bus session bus")),
                 qPrintable(lines[0]));
    }
};

ORBITUNE_TEST_MAIN(TestMprisNoBus)

#include "tst_mpris_nobus.moc"
