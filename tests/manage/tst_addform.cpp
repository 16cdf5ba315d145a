// The add-program form presented over a host window, against the real store
// in a private data directory and a presenter that records alerts.
#include "ManageFakes.h"

#include "manage/AddViewController.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace managetest;

class AddFormTest : public QObject {
    Q_OBJECT

    HostViewController *host = nullptr;
    RecordingAlertPresenter *alerts = nullptr;
    QPointer<AddViewController> form;

    QWidget *sheet() const { return form ? form->view() : nullptr; }
    template <typename T> T *child(const char *name) const
    {
        return sheet()->findChild<T *>(QLatin1String(name));
    }

    void fill(const QString &name, const QString &image, const QString &url)
    {
        child<QLineEdit>("nameTF")->setText(name);
        child<QLineEdit>("imageTF")->setText(image);
        child<QLineEdit>("urlTF")->setText(url);
    }

private Q_SLOTS:
    void init()
    {
        resetStore();
        alerts = new RecordingAlertPresenter;
        host = new HostViewController;
        form = new AddViewController;
        host->presentViewControllerAsSheet(form);
        QVERIFY(QTest::qWaitForWindowExposed(sheet()));
    }

    void cleanup()
    {
        delete host;
        delete alerts;
        QVERIFY(form.isNull());
    }

    void emptyFieldsAreReportedInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("message");
        const QString any = QStringLiteral("x");
        QTest::newRow("all empty")
            << QString() << QString() << QString() << 0 << QStringLiteral("Name cannot be empty！");
        QTest::newRow("only urls empty")
            << any << QString() << QString() << 1 << QStringLiteral("Image url cannot be empty！");
        QTest::newRow("name empty, urls set")
            << QString() << any << any << 0 << QStringLiteral("Name cannot be empty！");
        QTest::newRow("play url empty")
            << any << any << QString() << 2 << QStringLiteral("Play url cannot be empty！");
    }

    void emptyFieldsAreReportedInOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, image);
        QFETCH(QString, url);
        QFETCH(int, style);
        QFETCH(QString, message);
        const QByteArray before = storeBytes();
        QSignalSpy closed(form, &ViewController::dismissed);

        fill(name, image, url);
        QTest::mouseClick(child<QPushButton>("saveBtn"), Qt::LeftButton);

        QCOMPARE(alerts->shown.size(), 1);
        const Alert &a = alerts->last();
        QCOMPARE(a.messageText, QStringLiteral("Tip："));
        QCOMPARE(a.informativeText, message);
        QCOMPARE(a.alertStyle, style);
        QCOMPARE(a.buttons, QStringList{QStringLiteral("I know")});
        QCOMPARE(alerts->shown.last().window.data(), sheet()->window());
        QVERIFY(!alerts->shown.last().completion);
        QCOMPARE(storeBytes(), before);
        QCOMPARE(closed.size(), 0);
        QVERIFY(sheet()->isVisible());
        QCOMPARE(child<QLineEdit>("nameTF")->text(), name);
        QCOMPARE(child<QLineEdit>("urlTF")->text(), url);
    }

    void savesTextsExactlyAsTypedAndCloses()
    {
        CacheManager::shareIntance()->saveLiveData(entry(QStringLiteral("live")));
        const QVariantList before = CacheManager::shareIntance()->getData();
        QSignalSpy closed(form, &ViewController::dismissed);

        fill(QStringLiteral("   "), QStringLiteral(" http://127.0.0.1:9/a.png "),
             QStringLiteral("\thttp://127.0.0.1:9/a.mp3"));
        QTest::mouseClick(child<QPushButton>("saveBtn"), Qt::LeftButton);

        QVERIFY(alerts->shown.isEmpty());
        QCOMPARE(closed.size(), 1);
        QVariantList expected = before;
        expected << program::make(QStringLiteral("   "),
                                  QStringLiteral(" http://127.0.0.1:9/a.png "),
                                  QStringLiteral("\thttp://127.0.0.1:9/a.mp3"));
        QCOMPARE(CacheManager::shareIntance()->getData(), expected);
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), entry(QStringLiteral("live")));
        QTRY_VERIFY(form.isNull());
    }

    void sameProgramTwiceIsStoredTwice()
    {
        const QVariantMap e = entry(QStringLiteral("dup"));
        QVERIFY(CacheManager::shareIntance()->saveData(e));
        fill(program::name(e), program::image(e), program::url(e));
        // Return in a field saves.
        QTest::keyClick(child<QLineEdit>("urlTF"), Qt::Key_Return);
        QTRY_VERIFY(form.isNull());
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{e, e}));
    }

    void closingSavesNothing()
    {
        const QByteArray before = storeBytes();
        fill(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
        QTest::mouseClick(child<QPushButton>("closeBtn"), Qt::LeftButton);
        QTRY_VERIFY(form.isNull());
        QCOMPARE(storeBytes(), before);
        QVERIFY(alerts->shown.isEmpty());
    }

    void escapeClosesWithoutSaving()
    {
        const QByteArray before = storeBytes();
        fill(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
        child<QLineEdit>("imageTF")->setFocus();
        QTest::keyClick(child<QLineEdit>("imageTF"), Qt::Key_Escape);
        QTRY_VERIFY(form.isNull());
        QCOMPARE(storeBytes(), before);
    }

    void failedWriteKeepsTheFormAsTyped()
    {
        QVERIFY(CacheManager::shareIntance()->saveData(entry(QStringLiteral("old"))));
        const QByteArray before = storeBytes();
        QSignalSpy closed(form, &ViewController::dismissed);
        fill(QStringLiteral("New"), QStringLiteral("http://127.0.0.1:9/n.png"),
             QStringLiteral("http://127.0.0.1:9/n.mp3"));
        {
            FailingWrites failing;
            QTest::mouseClick(child<QPushButton>("saveBtn"), Qt::LeftButton);
        }
        QCOMPARE(alerts->shown.size(), 1);
        QCOMPARE(alerts->last().messageText, QStringLiteral("Tip："));
        QVERIFY(alerts->last().informativeText.contains(QLatin1String("could not be saved")));
        QCOMPARE(closed.size(), 0);
        QVERIFY(sheet()->isVisible());
        QCOMPARE(child<QLineEdit>("nameTF")->text(), QStringLiteral("New"));
        QCOMPARE(child<QLineEdit>("imageTF")->text(), QStringLiteral("http://127.0.0.1:9/n.png"));
        QCOMPARE(child<QLineEdit>("urlTF")->text(), QStringLiteral("http://127.0.0.1:9/n.mp3"));
        QCOMPARE(storeBytes(), before);

        // Once writing works again the same form saves.
        QTest::mouseClick(child<QPushButton>("saveBtn"), Qt::LeftButton);
        QTRY_VERIFY(form.isNull());
        QCOMPARE(CacheManager::shareIntance()->getData().size(), 2);
    }

    void keyboardOrderAndLabels()
    {
        QList<QWidget *> chain;
        QWidget *w = child<QLineEdit>("nameTF");
        for (int i = 0; i < 5; ++i) {
            chain << w;
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->isVisible())
                w = w->nextInFocusChain();
        }
        QCOMPARE(chain, (QList<QWidget *>{child<QLineEdit>("nameTF"), child<QLineEdit>("imageTF"),
                                          child<QLineEdit>("urlTF"), child<QPushButton>("saveBtn"),
                                          child<QPushButton>("closeBtn")}));
        for (QWidget *control : chain) {
            QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!control->accessibleDescription().isEmpty(),
                     qPrintable(control->objectName()));
            QVERIFY2(!control->toolTip().isEmpty(), qPrintable(control->objectName()));
        }
    }
};

ORBITUNE_TEST_MAIN(AddFormTest)
#include "tst_addform.moc"
