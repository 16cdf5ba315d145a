// The Find Stations window against the loopback directory: searching as one
// types, filters and further pages, playing and adding a station, what it
// says on bad days, and how the main and list windows open it.
#include "FakeDirectory.h"
#include "manage/ManageFakes.h"
#include "support/FakeMedia.h"

#include "app/FindLauncher.h"
#include "app/ManageLauncher.h"
#include "find/FindViewController.h"
#include "find/StationModel.h"
#include "mainwindow/HomeViewController.h"
#include "manage/ListViewController.h"
#include "platform/base/NotificationCenter.h"
#include "store/ProgramStore.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QtTest>

using namespace managetest;

class FindWindowTest : public QObject {
    Q_OBJECT

    FakeDirectory directory;
    HeldImageLoader *images = nullptr;
    FindViewController *find = nullptr;
    int livePlays = 0;
    QObject observer;

    template <typename T> T *child(const char *name) const
    {
        T *widget = find->view()->findChild<T *>(QLatin1String(name));
        if (!widget)
            qWarning("no widget %s", name);
        return widget;
    }
    QString status() const { return child<QLabel>("statusLabel")->text(); }
    QTableView *table() const { return child<QTableView>("resultsTable"); }
    QString rowName(int row) const
    {
        return table()->model()->index(row, StationModel::NameColumn).data().toString();
    }
    bool idle() const { return !find->client()->isBusy(); }

    // Opens the window and waits for its first list (the most listened).
    bool open()
    {
        find->showWindow();
        if (!QTest::qWaitForWindowExposed(find->view()))
            return false;
        return QTest::qWaitFor([this] { return idle() && table()->model()->rowCount() > 0; },
                               10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(directory.isUp());
        NotificationCenter::defaultCenter()->addObserver(&observer, QStringLiteral("LIVE_PLAY"),
                                                         [this] { ++livePlays; });
    }

    void init()
    {
        resetStore();
        writeStore({entry(QStringLiteral("a"))}, entry(QStringLiteral("a")));
        directory.setMode(QStringLiteral("normal"));
        images = new HeldImageLoader;
        find = new FindViewController;
        find->client()->setServers({directory.url()});
        livePlays = 0;
    }

    void cleanup()
    {
        delete find;
        delete images;
    }

    void typingSearchesOnceAfterAPauseAndShowsStationsLiterally()
    {
        QVERIFY(open());
        QCOMPARE(rowName(0), QStringLiteral("Jazz Lounge"));
        const qsizetype before = directory.searches().size();

        QTest::keyClicks(child<QLineEdit>("searchField"), QStringLiteral("jazz"));
        QVERIFY(QTest::qWaitFor(
            [this] {
                return idle() && rowName(0) == QStringLiteral("Jazz Lounge") &&
                       table()->model()->rowCount() == 3;
            },
            10000));
        // Four key presses, one request.
        QCOMPARE(directory.searches().size(), before + 1);
        QCOMPARE(rowName(1), QStringLiteral("Jazz Classics"));
        QCOMPARE(table()->model()->index(0, StationModel::FormatColumn).data().toString(),
                 QStringLiteral("AAC · 96 kbps"));
        QCOMPARE(table()->model()->index(0, StationModel::TagsColumn).data().toString(),
                 QStringLiteral("jazz, lounge"));
        QCOMPARE(status(), QStringLiteral("3 stations."));
        QVERIFY(child<QProgressBar>("busyIndicator")->isHidden());
        // The status line reads as what it says, not as a fixed caption.
        QCOMPARE(QAccessible::queryAccessibleInterface(child<QLabel>("statusLabel"))
                     ->text(QAccessible::Name),
                 QStringLiteral("3 stations."));

        // Screen readers hear each row as its station.
        QAccessibleInterface *results = QAccessible::queryAccessibleInterface(table());
        QVERIFY(results && results->tableInterface());
        QCOMPARE(
            results->tableInterface()->cellAt(1, StationModel::NameColumn)->text(QAccessible::Name),
            QStringLiteral("Jazz Classics"));

        // Favicons come through the shared loader, for the list shown only:
        // the first list's request is dropped with that list.
        const QString iconUrl = QStringLiteral("http://127.0.0.1:9/icons/1.png");
        const auto first = std::find_if(images->requests.cbegin(), images->requests.cend(),
                                        [&](const auto &r) { return r.url == QUrl(iconUrl); });
        QVERIFY(first != images->requests.cend() && !first->context);
        int icon = -1;
        QTRY_VERIFY((icon = images->lastIndexOf(iconUrl)) >= 0 &&
                    images->requests.at(icon).context);
        images->answer(icon, HeldImageLoader::solid(Qt::red));
        QTRY_COMPARE(table()
                         ->model()
                         ->index(0, 0)
                         .data(Qt::DecorationRole)
                         .value<QPixmap>()
                         .toImage()
                         .pixelColor(12, 12),
                     QColor(Qt::red));

        child<QLineEdit>("searchField")->clear();
        QTest::keyClicks(child<QLineEdit>("searchField"), QStringLiteral("bold"));
        QTRY_COMPARE_WITH_TIMEOUT(rowName(0), QStringLiteral("<b>Bold</b> & Co"), 10000);
        QTRY_VERIFY(idle());
        QCOMPARE(child<QLabel>("statusLabel")->textFormat(), Qt::PlainText);
        QTest::keyClick(child<QLineEdit>("searchField"), Qt::Key_Down);
        QTest::keyClick(table(), Qt::Key_Return);
        QCOMPARE(status(), QStringLiteral("Playing “<b>Bold</b> & Co”."));
    }

    // Voice control and other assistive tools set the text as a whole.
    void textSetByAssistiveToolsSearches_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("name") << "searchField"
                              << "name"
                              << "Tokyo";
        QTest::newRow("country") << "countryField"
                                 << "country"
                                 << "japan";
        QTest::newRow("tag") << "tagField"
                             << "tag"
                             << "cafe";
    }

    void textSetByAssistiveToolsSearches()
    {
        QFETCH(QString, field);
        QFETCH(QString, key);
        QFETCH(QString, text);
        QVERIFY(open());
        const qsizetype before = directory.searches().size();
        QAccessible::queryAccessibleInterface(child<QLineEdit>(qPrintable(field)))
            ->setText(QAccessible::Value, text);
        QTRY_VERIFY_WITH_TIMEOUT(idle() && table()->model()->rowCount() == 1, 10000);
        QCOMPARE(rowName(0), QStringLiteral("Tokyo Jazz Cafe"));
        QCOMPARE(directory.searches().size(), before + 1);
        QCOMPARE(directory.searches().last()[QStringLiteral("query")][key], QJsonValue(text));
    }

    void filtersAndMorePagesReachTheDirectory()
    {
        QVERIFY(open());
        QTest::keyClicks(child<QLineEdit>("countryField"), QStringLiteral("germany"));
        QTest::keyClicks(child<QLineEdit>("tagField"), QStringLiteral("filler"));
        QTest::keyClick(child<QLineEdit>("tagField"), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(idle() && rowName(0) == QStringLiteral("Filler 000"), 10000);
        const QJsonObject query =
            directory.searches().last().value(QStringLiteral("query")).toObject();
        QCOMPARE(query.value(QStringLiteral("country")).toString(), QStringLiteral("germany"));
        QCOMPARE(query.value(QStringLiteral("tag")).toString(), QStringLiteral("filler"));
        QCOMPARE(table()->model()->rowCount(), 100);

        auto *more = child<QPushButton>("moreButton");
        QVERIFY(more->isEnabled());
        QTest::mouseClick(more, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(table()->model()->rowCount(), 200, 10000);
        QCOMPARE(directory.searches()
                     .last()
                     .value(QStringLiteral("query"))
                     .toObject()
                     .value(QStringLiteral("offset"))
                     .toString(),
                 QStringLiteral("100"));
        QTRY_VERIFY(more->isEnabled());
        QTest::mouseClick(more, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(table()->model()->rowCount(), 250, 10000);
        QCOMPARE(rowName(249), QStringLiteral("Filler 249"));
        QTRY_VERIFY(idle());
        QVERIFY(!more->isEnabled());
    }

    void playingAndAddingAStation()
    {
        QVERIFY(open());
        QTest::keyClicks(child<QLineEdit>("searchField"), QStringLiteral("Jazz Classics"));
        QTRY_VERIFY_WITH_TIMEOUT(idle() && table()->model()->rowCount() == 1, 10000);
        const QString uuid = find->model()->station(0).uuid;
        const QStringList clicksBefore = directory.clicks();
        const QVariantMap expected = program::make(QStringLiteral("Jazz Classics"),
                                                   QStringLiteral("http://127.0.0.1:9/icons/2.png"),
                                                   QStringLiteral("http://127.0.0.1:9/none.mp3"));

        // Return on the row plays it as the program list would.
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Return);
        QCOMPARE(livePlays, 1);
        QVERIFY(program::isEqual(CacheManager::shareIntance()->getLiveData(), expected));
        QTRY_COMPARE(directory.clicks(), clicksBefore + QStringList{uuid});
        QVERIFY(find->view()->isVisible());

        // Ctrl+D adds it once; a second time says it is there already.
        QTest::keyClick(table(), Qt::Key_D, Qt::ControlModifier);
        QVariantList list = CacheManager::shareIntance()->getData();
        QCOMPARE(list.size(), 2);
        QVERIFY(program::isEqual(list.last(), expected));
        QCOMPARE(status(), QStringLiteral("Added “Jazz Classics” to your programs."));
        QTest::mouseClick(child<QPushButton>("addButton"), Qt::LeftButton);
        QCOMPARE(CacheManager::shareIntance()->getData().size(), 2);
        QCOMPARE(status(), QStringLiteral("“Jazz Classics” is already in your programs as "
                                          "“Jazz Classics”."));
        QCOMPARE(livePlays, 1);

        // Double-click plays too; Escape closes.
        const QRect cell = table()->visualRect(table()->model()->index(0, 0));
        // As a real double-click arrives: a click, then the second press.
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(livePlays, 1);
        QTest::mouseDClick(table()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(livePlays, 2);
        QTest::keyClick(table(), Qt::Key_Escape);
        QTRY_VERIFY(!find->view()->isVisible());
    }

    void badDaysEndInAMessageNotAHang()
    {
        QVERIFY(open());
        find->client()->setTimeout(800);
        auto *field = child<QLineEdit>("searchField");
        struct Case {
            const char *mode;
            QString says;
        };
        const QList<Case> cases = {
            {"500", QStringLiteral("answered with an error (HTTP 500)")},
            {"notjson", QStringLiteral("could not be read (not JSON)")},
            {"object", QStringLiteral("could not be read (not a list of stations)")},
            {"huge", QStringLiteral("too large (over 4 MB)")},
            {"slow", QStringLiteral("did not answer in time (800 ms)")},
            {"wrongtypes", QStringLiteral("1 station. 6 unreadable entries left out.")},
        };
        for (const Case &c : cases) {
            directory.setMode(QString::fromLatin1(c.mode));
            field->setText(QString::fromLatin1(c.mode));
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY(!child<QProgressBar>("busyIndicator")->isHidden());
            QTRY_VERIFY2_WITH_TIMEOUT(idle(), c.mode, 5000);
            QVERIFY2(status().contains(c.says), qPrintable(status()));
            QVERIFY(child<QProgressBar>("busyIndicator")->isHidden());
        }
        QCOMPARE(rowName(0), QStringLiteral("Jazz Lounge"));

        // Nobody listening at all.
        find->client()->setServers(
            {QUrl(QStringLiteral("http://127.0.0.1:%1").arg(childprocess::freePort()))});
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 5000);
        QVERIFY2(status().contains(QStringLiteral("could not be reached")), qPrintable(status()));
        // Acting on a stale list still works; nothing is chosen after a failure-free list.
        directory.setMode(QStringLiteral("normal"));
    }

    void mainAndListWindowsOpenTheWindow()
    {
        qputenv("ORBITUNE_DIRECTORY_URL", directory.url().toEncoded());
        FakeMediaFactory media;
        auto *home = new HomeViewController;
        FindLauncher launcher;
        ProgramStore store;
        ManageLauncher sheets(home);
        sheets.setListControllerFactory([&launcher, &store] {
            auto *list = new ListViewController;
            launcher.attachList(list);
            list->followStore(&store);
            return list;
        });
        launcher.attachHome(home->host());
        home->view()->show();
        QVERIFY(QTest::qWaitForWindowExposed(home->view()));

        // Tray menu: above the separator before Quit.
        const QList<QAction *> actions = home->statusMenu()->actions();
        auto *find = home->statusMenu()->findChild<QAction *>(QStringLiteral("findAction"));
        QVERIFY(find);
        QCOMPARE(find->text(), QStringLiteral("Find Stations"));
        const qsizetype at = actions.indexOf(find);
        QVERIFY(at > 1);
        QVERIFY(actions.at(at + 1)->isSeparator());
        QCOMPARE(actions.last()->objectName(), QStringLiteral("quitAction"));
        find->trigger();
        QVERIFY(launcher.controller());
        QWidget *window = launcher.controller()->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!window->isVisible());

        home->view()->activateWindow();
        QTRY_VERIFY(home->view()->isActiveWindow());
        QTest::keyClick(home->view(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(window->isVisible());
        window->close();

        sheets.listClick();
        auto *list = qobject_cast<ListViewController *>(home->presentedViewController());
        QVERIFY(list);
        QVERIFY(QTest::qWaitForWindowExposed(list->view()));
        QTest::mouseClick(list->view()->findChild<QPushButton *>(QStringLiteral("findButton")),
                          Qt::LeftButton);
        QTRY_VERIFY(window->isVisible());
        window->close();
        list->view()->activateWindow();
        QTRY_VERIFY(list->view()->isActiveWindow());
        QTest::keyClick(list->view(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(window->isVisible());

        // What the window adds shows in the open list.
        QTRY_VERIFY_WITH_TIMEOUT(!launcher.controller()->client()->isBusy() &&
                                     launcher.controller()->model()->count() > 0,
                                 10000);
        QCOMPARE(list->listTableView()->numberOfRows(), 1L);
        launcher.controller()->addRow(0);
        QTRY_COMPARE(list->listTableView()->numberOfRows(), 2L);
        qunsetenv("ORBITUNE_DIRECTORY_URL");
        delete home;
    }
};

ORBITUNE_TEST_MAIN(FindWindowTest)
#include "tst_find_window.moc"
