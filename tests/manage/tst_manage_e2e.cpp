// Through the real main window: open the program list from it, play a row
// (the main window switches to that stream), add a program with the form and
// find it in the list when the list is opened again.
#include "ManageFakes.h"
#include "support/FakeMedia.h"

#include "app/ManageLauncher.h"
#include "mainwindow/HomeViewController.h"
#include "manage/AddViewController.h"
#include "manage/ListCell.h"
#include "manage/ListViewController.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using namespace managetest;

class ManageEndToEndTest : public QObject {
    Q_OBJECT

    FakeMediaFactory *media = nullptr;
    HeldImageLoader *images = nullptr;
    RecordingAlertPresenter *alerts = nullptr;
    HomeViewController *home = nullptr;

    template <typename T> T *homeChild(const char *name) const
    {
        return home->view()->findChild<T *>(QLatin1String(name));
    }

    ListViewController *openList()
    {
        QTest::mouseClick(homeChild<QToolButton>("listBtn"), Qt::LeftButton);
        auto *list = qobject_cast<ListViewController *>(home->presentedViewController());
        if (list && !QTest::qWaitForWindowExposed(list->view()))
            return nullptr;
        return list;
    }

private Q_SLOTS:
    void init()
    {
        resetStore();
        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))},
                   entry(QStringLiteral("a")));
        media = new FakeMediaFactory;
        images = new HeldImageLoader;
        alerts = new RecordingAlertPresenter;
        home = new HomeViewController;
        // Assembled as the application delegate does.
        auto *sheets = new ManageLauncher(home, home);
        sheets->setListControllerFactory([] { return new ListViewController; });
        sheets->setAddControllerFactory([] { return new AddViewController; });
        home->view()->show();
        QVERIFY(QTest::qWaitForWindowExposed(home->view()));
    }

    void cleanup()
    {
        delete home;
        delete alerts;
        delete images;
        delete media;
    }

    void playingARowSwitchesTheMainWindowsStream()
    {
        QCOMPARE(homeChild<QLabel>("titleTextField")->text(), QStringLiteral("Program a"));
        QPointer<ListViewController> list = openList();
        QVERIFY(list);
        auto *row = qobject_cast<ListCell *>(list->listTableView()->viewAtRow(1));
        QVERIFY(row);
        QCOMPARE(row->nameTF()->text(), QStringLiteral("Program b"));

        QTest::mouseClick(row->listPlayBtn(), Qt::LeftButton);

        QCOMPARE(media->created(), 1);
        QCOMPARE(media->lastItem()->url(), QUrl(QStringLiteral("http://127.0.0.1:9/b.mp3")));
        QCOMPARE(homeChild<QLabel>("titleTextField")->text(), QStringLiteral("Loading..."));
        QVERIFY(!home->presentedViewController());
        QTRY_VERIFY(list.isNull());
        media->lastItem()->setStatus(MediaItem::StatusReadyToPlay);
        QCOMPARE(homeChild<QLabel>("titleTextField")->text(), QStringLiteral("Program b"));
        QCOMPARE(media->last()->plays, 1);
    }

    void playingARowThatIsNotAProgramShowsTheFailureAndKeepsTheCurrentOne()
    {
        writeStore({entry(QStringLiteral("a")), QStringLiteral("not a program")},
                   entry(QStringLiteral("a")));
        const QByteArray before = storeBytes();
        QPointer<ListViewController> list = openList();
        QVERIFY(list);
        auto *row = qobject_cast<ListCell *>(list->listTableView()->viewAtRow(1));
        QVERIFY(row);
        QTest::mouseClick(row->listPlayBtn(), Qt::LeftButton);

        QCOMPARE(homeChild<QLabel>("titleTextField")->text(),
                 QStringLiteral("Error, switch next one."));
        QCOMPARE(home->playbackState(), HomeViewController::PlaybackState::Failed);
        QCOMPARE(media->created(), 0);
        QCOMPARE(storeBytes(), before);
        QTRY_VERIFY(list.isNull());
        // The current program is still there to play.
        home->playClick();
        QCOMPARE(media->created(), 1);
        QCOMPARE(media->lastItem()->url(), QUrl(QStringLiteral("http://127.0.0.1:9/a.mp3")));
    }

    void closingTheWindowFromItsTitleBarLetsItOpenAgain()
    {
        QPointer<ListViewController> list = openList();
        QVERIFY(list);
        list->view()->close();
        QTRY_VERIFY(list.isNull());
        QVERIFY(openList());
    }

    // Ctrl+L and Ctrl+N open the same sheets as the buttons, one at a time.
    void keysOpenTheListAndTheFormOneAtATime()
    {
        home->view()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(home->view()));
        QTest::keyClick(home->view(), Qt::Key_L, Qt::ControlModifier);
        QPointer<ListViewController> list =
            qobject_cast<ListViewController *>(home->presentedViewController());
        QVERIFY(list);
        QTest::keyClick(home->view(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(home->presentedViewController() == list);
        list->dismissController();
        QTRY_VERIFY(list.isNull());
        home->view()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(home->view()));
        QTest::keyClick(home->view(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(qobject_cast<AddViewController *>(home->presentedViewController()));
    }

    void addedProgramShowsWhenTheListOpensAgain()
    {
        QTest::mouseClick(homeChild<QToolButton>("addBtn"), Qt::LeftButton);
        QPointer<AddViewController> form =
            qobject_cast<AddViewController *>(home->presentedViewController());
        QVERIFY(form);
        QVERIFY(QTest::qWaitForWindowExposed(form->view()));
        QTest::keyClicks(form->nameTF(), QStringLiteral("Added"));
        QTest::keyClicks(form->imageTF(), QStringLiteral("http://127.0.0.1:9/added.png"));
        QTest::keyClicks(form->urlTF(), QStringLiteral("http://127.0.0.1:9/added.mp3"));
        QTest::keyClick(form->urlTF(), Qt::Key_Return);
        QTRY_VERIFY(form.isNull());
        QVERIFY(alerts->shown.isEmpty());
        // Adding neither plays nor changes the current program.
        QCOMPARE(media->created(), 0);
        QCOMPARE(homeChild<QLabel>("titleTextField")->text(), QStringLiteral("Program a"));

        ListViewController *list = openList();
        QVERIFY(list);
        QCOMPARE(list->listTableView()->numberOfRows(), 3L);
        auto *row = qobject_cast<ListCell *>(list->listTableView()->viewAtRow(2));
        QVERIFY(row);
        QCOMPARE(row->nameTF()->text(), QStringLiteral("Added"));
        QCOMPARE(row->urlTF()->text(), QStringLiteral("http://127.0.0.1:9/added.mp3"));
    }
};

ORBITUNE_TEST_MAIN(ManageEndToEndTest)
#include "tst_manage_e2e.moc"
