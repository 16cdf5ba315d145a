#include "support/AudioSession.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QtTest>

// The helpers other tests build on: a private session bus and a private
// PulseAudio whose null sink can be measured.
class TestFixtures : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sessionBusIsPrivateAndGoesAway();
    void silentNullSinkMeasuresSilence();
};

void TestFixtures::sessionBusIsPrivateAndGoesAway()
{
    const QByteArray before = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QString address;
    {
        SessionBus bus;
        QVERIFY(bus.start());
        address = bus.address();
        QVERIFY(address.startsWith(QLatin1String("unix:")));
        QVERIFY(address != QString::fromUtf8(before));
        QDBusConnection connection =
            QDBusConnection::connectToBus(address, QStringLiteral("fixture-test"));
        QVERIFY(connection.isConnected());
        QVERIFY(connection.registerService(QStringLiteral("org.orbitune.FixtureTest")));
        QVERIFY(connection.interface()->isServiceRegistered(
            QStringLiteral("org.orbitune.FixtureTest")));
        QDBusConnection::disconnectFromBus(QStringLiteral("fixture-test"));
    }
    // The daemon was stopped with its object.
    QDBusConnection again = QDBusConnection::connectToBus(address, QStringLiteral("fixture-again"));
    QVERIFY(!again.isConnected());
    QDBusConnection::disconnectFromBus(QStringLiteral("fixture-again"));
}

void TestFixtures::silentNullSinkMeasuresSilence()
{
    AudioSession audio;
    QVERIFY2(audio.start(), qPrintable(audio.errorString()));
    QVERIFY(qgetenv("PULSE_SERVER") == audio.serverAddress().toUtf8());
    LevelMeter meter(audio);
    QVERIFY(meter.start());
    // The monitor delivers blocks, and with nothing playing they are silent.
    QTRY_VERIFY_WITH_TIMEOUT(meter.blockCount() >= 25, 3000);
    QCOMPARE(meter.firstSoundAfter(0, 0.001), -1);
    QVERIFY(meter.recentRms(400) < 0.001);
}

ORBITUNE_TEST_MAIN(TestFixtures)
#include "tst_fixtures.moc"
