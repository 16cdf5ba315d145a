// The program list window presented over a host window, against the real
// store in a private data directory, a presenter that records and answers
// alerts and an image loader that answers when told.
#include "ManageFakes.h"
#include "support/AccessibilityEvents.h"

#include "manage/GroupHeader.h"
#include "manage/ListCell.h"
#include "manage/ListViewController.h"
#include "platform/base/NotificationCenter.h"
#include "platform/ui/PreviewView.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <optional>

using namespace managetest;

class ListWindowTest : public QObject {
    Q_OBJECT

    HostViewController *host = nullptr;
    RecordingAlertPresenter *alerts = nullptr;
    HeldImageLoader *images = nullptr;
    LogRecorder *log = nullptr;
    QObject livePlayObserver;
    int livePlays = 0;
    std::function<void()> onLivePlay;
    QPointer<ListViewController> list;

    QWidget *sheet() const { return list->view(); }
    TableView *table() const
    {
        return sheet()->findChild<TableView *>(QStringLiteral("listTableView"));
    }
    ListCell *cellAt(long row) const { return qobject_cast<ListCell *>(table()->viewAtRow(row)); }

    void open()
    {
        list = new ListViewController;
        host->presentViewControllerAsSheet(list);
        QVERIFY(QTest::qWaitForWindowExposed(sheet()));
    }

    QVariantList defaults() const
    {
        return {program::make(QStringLiteral("Default One"),
                              QStringLiteral("http://127.0.0.1:9/default-one.png"),
                              QStringLiteral("http://127.0.0.1:9/default-one.mp3")),
                program::make(QStringLiteral("Default Two"),
                              QStringLiteral("http://127.0.0.1:9/default-two.png"),
                              QStringLiteral("http://127.0.0.1:9/default-two.mp3"))};
    }

    QPushButton *button(const char *name) const
    {
        return sheet()->findChild<QPushButton *>(QLatin1String(name));
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }

    static QStringList names(const QVariantList &list)
    {
        QStringList out;
        for (const QVariant &e : list)
            out << program::name(e);
        return out;
    }

    QStringList shownNames() const
    {
        QStringList out;
        for (long row = 0; row < table()->numberOfRows(); ++row)
            out << cellAt(row)->nameTF()->text();
        return out;
    }

    void checkConfirmation(const QString &question)
    {
        QVERIFY(!alerts->shown.isEmpty());
        const Alert &a = alerts->last();
        QCOMPARE(a.messageText, QStringLiteral("Tip："));
        QCOMPARE(a.informativeText, question);
        QCOMPARE(a.alertStyle, 0);
        QCOMPARE(a.buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")}));
        QCOMPARE(alerts->shown.last().window.data(), sheet()->window());
    }

private Q_SLOTS:
    void init()
    {
        resetStore();
        livePlays = 0;
        onLivePlay = nullptr;
        NotificationCenter::defaultCenter()->addObserver(&livePlayObserver,
                                                         QStringLiteral("LIVE_PLAY"), [this] {
                                                             ++livePlays;
                                                             if (onLivePlay)
                                                                 onLivePlay();
                                                         });
        alerts = new RecordingAlertPresenter;
        images = new HeldImageLoader;
        log = new LogRecorder;
        host = new HostViewController;
    }

    void cleanup()
    {
        NotificationCenter::defaultCenter()->removeObserver(&livePlayObserver);
        delete host;
        delete log;
        delete images;
        delete alerts;
    }

    void emptyStoreShowsNoRowsAndRestoreFillsIt()
    {
        open();
        QVERIFY(list->dataArr.isEmpty());
        QCOMPARE(table()->numberOfRows(), 0L);
        QCOMPARE(table()->rowViewCount(), 0);

        // The table is already refilled when the player hears LIVE_PLAY.
        long rowsAtNotification = -1;
        onLivePlay = [&] { rowsAtNotification = table()->numberOfRows(); };
        QTest::mouseClick(sheet()->findChild<QPushButton *>(QStringLiteral("redoBtn")),
                          Qt::LeftButton);
        checkConfirmation(QStringLiteral("Restore default programs？"));
        alerts->answer(1000);

        QCOMPARE(CacheManager::shareIntance()->getData(), defaults());
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), defaults().at(1).toMap());
        QCOMPARE(livePlays, 1);
        QCOMPARE(rowsAtNotification, 2L);
        QCOMPARE(cellAt(1)->nameTF()->text(), QStringLiteral("Default Two"));
        QVERIFY(sheet()->isVisible());
        QCOMPARE(log->actions(), QStringList{QStringLiteral("OK")});
    }

    void rowsShowTheirEntries()
    {
        writeStore({entry(QStringLiteral("a")), QVariantMap{{QStringLiteral("name"), 5}},
                    entry(QStringLiteral("c"))});
        open();
        QCOMPARE(table()->numberOfRows(), 3L);
        QCOMPARE(table()->rowHeight(), 36);
        ListCell *first = cellAt(0);
        QCOMPARE(first->nameTF()->text(), QStringLiteral("Program a"));
        QCOMPARE(first->urlTF()->text(), QStringLiteral("http://127.0.0.1:9/a.mp3"));
        QCOMPARE(first->row(), 0L);
        QCOMPARE(first->listPlayBtn()->accessibleName(), QStringLiteral("Play Program a"));
        QCOMPARE(first->listDelBtn()->accessibleName(), QStringLiteral("Delete Program a"));
        // A screen reader reads the row as its program and its address.
        QCOMPARE(accessibleNameOf(first), QStringLiteral("Program a"));
        QCOMPARE(accessibleDescriptionOf(first), QStringLiteral("http://127.0.0.1:9/a.mp3"));
        QCOMPARE(accessibleNameOf(first->nameTF()), QStringLiteral("Program a"));
        QCOMPARE(accessibleNameOf(first->urlTF()), QStringLiteral("http://127.0.0.1:9/a.mp3"));
        QCOMPARE(accessibleNameOf(first->previewImageView()), QStringLiteral("Program a picture"));
        QCOMPARE(accessibleNameOf(cellAt(1)), QStringLiteral("Program"));
        // An entry without usable keys shows empty texts and asks for no image.
        QCOMPARE(cellAt(1)->nameTF()->text(), QString());
        QCOMPARE(cellAt(1)->urlTF()->text(), QString());
        QCOMPARE(images->requests.size(), 2);
        QVERIFY(first->previewImageView()->image().isNull());
        images->answer(images->lastIndexOf(QStringLiteral("http://127.0.0.1:9/a.png")),
                       HeldImageLoader::solid(Qt::red));
        QCOMPARE(first->previewImageView()->image().pixelColor(1, 1), QColor(Qt::red));
        QVERIFY(cellAt(2)->previewImageView()->image().isNull());
    }

    void playStoresEntryPostsOnceAndCloses()
    {
        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))},
                   entry(QStringLiteral("b")));
        open();
        QSignalSpy closed(list, &ViewController::dismissed);
        QVariantMap liveAtNotification;
        onLivePlay = [&] { liveAtNotification = CacheManager::shareIntance()->getLiveData(); };

        QTest::mouseClick(cellAt(0)->listPlayBtn(), Qt::LeftButton);

        QCOMPARE(livePlays, 1);
        QCOMPARE(liveAtNotification, entry(QStringLiteral("a")));
        QCOMPARE(closed.size(), 1);
        QCOMPARE(log->actions(), QStringList{QStringLiteral("播放正在：0")});
        QTRY_VERIFY(list.isNull());
        // The list itself is untouched.
        QCOMPARE(CacheManager::shareIntance()->getData().size(), 2);
    }

    void cancelChangesNothing()
    {
        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))},
                   entry(QStringLiteral("a")));
        open();
        const QByteArray before = storeBytes();

        QTest::mouseClick(cellAt(1)->listDelBtn(), Qt::LeftButton);
        checkConfirmation(QStringLiteral("Are you sure?"));
        alerts->answer(1001);
        list->redoClick();
        checkConfirmation(QStringLiteral("Restore default programs？"));
        alerts->answer(1001);
        // Any other answer does nothing either.
        list->showRedoAlert();
        alerts->answer(1002);

        QCOMPARE(storeBytes(), before);
        QCOMPARE(table()->numberOfRows(), 2L);
        QCOMPARE(cellAt(1)->nameTF()->text(), QStringLiteral("Program b"));
        QCOMPARE(livePlays, 0);
        QCOMPARE(log->actions(), (QStringList{QStringLiteral("删除正在：1"),
                                              QStringLiteral("Cancel"), QStringLiteral("Cancel")}));
        QVERIFY(sheet()->isVisible());
    }

    // The real message box, not the recording presenter: Escape and Cancel
    // keep the program, OK deletes it, and the sheet is as wide as its window.
    void realDeleteConfirmationAnswersAsItsButtonsSay()
    {
        delete alerts; // back to the message-box presenter
        alerts = nullptr;
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        writeStore({a, b}, a);
        open();
        QPointer<QMessageBox> box;
        auto showConfirmation = [&] {
            QTest::mouseClick(cellAt(0)->listDelBtn(), Qt::LeftButton);
            QTRY_VERIFY((box = sheet()->window()->findChild<QMessageBox *>(
                             QStringLiteral("alert"))) != nullptr &&
                        box->isVisible());
        };

        showConfirmation();
        QVERIFY(box);
        QCOMPARE(box->informativeText(), QStringLiteral("Are you sure?"));
        // Texts that may carry a file's name are never read as markup.
        QCOMPARE(
            box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))->textFormat(),
            Qt::PlainText);
        QVERIFY(QTest::qWaitForWindowExposed(box));
        QCOMPARE(box->frameGeometry().width(), sheet()->window()->frameGeometry().width());
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(box.isNull());
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{a, b}));

        showConfirmation();
        QVERIFY(box);
        QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("alertButton1")),
                          Qt::LeftButton);
        QTRY_VERIFY(box.isNull());
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{a, b}));

        showConfirmation();
        QVERIFY(box);
        QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("alertButton0")),
                          Qt::LeftButton);
        QTRY_VERIFY(box.isNull());
        QCOMPARE(CacheManager::shareIntance()->getData(), QVariantList{b});
        QCOMPARE(log->actions(),
                 (QStringList{QStringLiteral("删除正在：0"), QStringLiteral("Cancel"),
                              QStringLiteral("删除正在：0"), QStringLiteral("Cancel"),
                              QStringLiteral("删除正在：0"), QStringLiteral("OK")}));
    }

    void deletingRemovesEveryEqualEntryButKeepsTheCurrentProgram()
    {
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        writeStore({a, b, a}, a);
        open();

        QTest::mouseClick(cellAt(2)->listDelBtn(), Qt::LeftButton);
        alerts->answer(1000);

        QCOMPARE(CacheManager::shareIntance()->getData(), QVariantList{b});
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), a);
        QCOMPARE(list->dataArr, QVariantList{b});
        QCOMPARE(table()->numberOfRows(), 1L);
        QCOMPARE(cellAt(0)->nameTF()->text(), QStringLiteral("Program b"));
        QVERIFY(!cellAt(1));
        QCOMPARE(livePlays, 0);
        QCOMPARE(log->actions(),
                 (QStringList{QStringLiteral("删除正在：2"), QStringLiteral("OK")}));
        QVERIFY(sheet()->isVisible());
    }

    void itemsThatAreNotProgramsCanBeDeletedButNeverBecomeCurrent()
    {
        // A hand-edited file: a string and a number among the programs.
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariant junk = QStringLiteral("junk");
        writeStore({junk, a, 7, junk}, a);
        open();
        QObject failObserver;
        int failedPlays = 0;
        NotificationCenter::defaultCenter()->addObserver(
            &failObserver, QStringLiteral("LIVE_PLAY_FAILED"), [&] { ++failedPlays; });

        QTest::mouseClick(cellAt(0)->listDelBtn(), Qt::LeftButton);
        checkConfirmation(QStringLiteral("Are you sure?"));
        alerts->answer(1000);
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{a, 7}));
        QCOMPARE(table()->numberOfRows(), 2L);

        // Playing the number keeps the current program in the file.
        const QByteArray before = storeBytes();
        QTest::mouseClick(cellAt(1)->listPlayBtn(), Qt::LeftButton);
        QCOMPARE(failedPlays, 1);
        QCOMPARE(livePlays, 0);
        QCOMPARE(storeBytes(), before);
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), a);
        QTRY_VERIFY(list.isNull());

        // And the number goes with Delete too.
        open();
        QTest::mouseClick(cellAt(1)->listDelBtn(), Qt::LeftButton);
        alerts->answer(1000);
        QCOMPARE(CacheManager::shareIntance()->getData(), QVariantList{a});
    }

    void restoreReplacesUserPrograms()
    {
        writeStore({entry(QStringLiteral("mine"))}, entry(QStringLiteral("mine")));
        open();
        list->redoClick();
        alerts->answer(1000);
        QCOMPARE(CacheManager::shareIntance()->getData(), defaults());
        QCOMPARE(list->dataArr, defaults());
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), defaults().at(1).toMap());
        QCOMPARE(livePlays, 1);
    }

    void reusedRowsActOnTheirNewEntryAndNeverShowTheOldImage()
    {
        QVariantList many;
        for (int i = 0; i < 60; ++i)
            many << entry(QString::number(i));
        writeStore(many);
        open();
        sheet()->resize(420, 300);
        QTRY_VERIFY(table()->viewport()->height() > 0);
        const int visible = table()->viewport()->height() / 36 + 2;

        // The top row's picture arrived; the second row's is still on its way.
        ListCell *top = cellAt(0);
        ListCell *second = cellAt(1);
        images->answer(images->lastIndexOf(QStringLiteral("http://127.0.0.1:9/0.png")),
                       HeldImageLoader::solid(Qt::red));
        QCOMPARE(top->previewImageView()->image().pixelColor(1, 1), QColor(Qt::red));
        const int lateRequest = images->lastIndexOf(QStringLiteral("http://127.0.0.1:9/1.png"));
        QVERIFY(lateRequest >= 0);

        table()->verticalScrollBar()->setValue(table()->verticalScrollBar()->maximum());
        QVERIFY(table()->rowViewCount() <= visible + 2);
        const long row = table()->rowForView(top);
        QVERIFY2(row >= 50, qPrintable(QString::number(row)));
        QCOMPARE(top->nameTF()->text(), QStringLiteral("Program %1").arg(row));
        QCOMPARE(top->row(), row);
        // A reused row forgets the picture of the entry it showed before...
        QVERIFY(top->previewImageView()->image().isNull());
        // ...and the late reply for that entry is not delivered to it.
        QVERIFY(table()->rowForView(second) >= 50);
        images->answer(lateRequest, HeldImageLoader::solid(Qt::green));
        QVERIFY(second->previewImageView()->image().isNull());
        images->answer(images->lastIndexOf(QStringLiteral("http://127.0.0.1:9/%1.png").arg(row)),
                       HeldImageLoader::solid(Qt::blue));
        QCOMPARE(top->previewImageView()->image().pixelColor(1, 1), QColor(Qt::blue));

        // Scrolling back hands it yet another entry, and its picture goes.
        table()->verticalScrollBar()->setValue(0);
        QVERIFY(top->isHidden() || top->previewImageView()->image().isNull());

        // Its delete acts on the entry it shows now.
        table()->verticalScrollBar()->setValue(table()->verticalScrollBar()->maximum());
        ListCell *cell = cellAt(55);
        QVERIFY(cell);
        cell->listDelClick();
        alerts->answer(1000);
        QCOMPARE(CacheManager::shareIntance()->getData().size(), 59);
        QVERIFY(!CacheManager::shareIntance()->getData().contains(entry(QStringLiteral("55"))));
    }

    void clickingARowOnlySelectsIt()
    {
        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))});
        open();
        const QByteArray before = storeBytes();
        QTest::mouseClick(cellAt(1)->nameTF(), Qt::LeftButton);
        QCOMPARE(table()->selectedRow(), 1L);
        QCOMPARE(table()->selectionHighlightStyle(), TableView::SelectionHighlightStyleNone);
        QCOMPARE(log->actions(), QStringList{QStringLiteral("tableColumn：1")});
        QCOMPARE(storeBytes(), before);
        QCOMPARE(livePlays, 0);
        QVERIFY(alerts->shown.isEmpty());
        QVERIFY(sheet()->isVisible());
    }

    void hoverLogsTheRowIndex()
    {
        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))});
        open();
        sheet()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(sheet()));
        ListCell *cell = cellAt(1);
        QTRY_VERIFY(cell->isTrackingPointer());
        // (The real pointer may rest over another row; only this row's lines count.)
        const qsizetype before = log->events().size();
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), cell->mapToGlobal(QPointF(5, 5)));
        QCoreApplication::sendEvent(cell, &enter);
        QCOMPARE(log->events().mid(before), (QStringList{QStringLiteral("鼠标进入cell范围:1"),
                                                         QStringLiteral("鼠标正在：1")}));
        // The overlay darkens the row (grey 0.2 at 0.6 over white is about 133).
        const QImage picture = cell->grab().toImage();
        const int grey = qGray(picture.pixel(picture.width() - 80, 1));
        QVERIFY2(grey > 110 && grey < 160, qPrintable(QString::number(grey)));
    }

    void keyboardPlaysAndDeletesTheFocusedRow()
    {
        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))});
        open();
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Down);
        QTest::keyClick(table(), Qt::Key_Down);
        QTest::keyClick(table(), Qt::Key_Delete);
        checkConfirmation(QStringLiteral("Are you sure?"));
        alerts->answer(1000);
        QCOMPARE(CacheManager::shareIntance()->getData(), QVariantList{entry(QStringLiteral("a"))});

        QTest::keyClick(table(), Qt::Key_Up);
        QTest::keyClick(table(), Qt::Key_Return);
        QCOMPARE(livePlays, 1);
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), entry(QStringLiteral("a")));
        QTRY_VERIFY(list.isNull());
    }

    void keyboardActsOnTheFirstRow()
    {
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        writeStore({a, b, a});
        open();
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Down); // nothing selected yet: the first row
        QCOMPARE(table()->selectedRow(), 0L);
        QTest::keyClick(table(), Qt::Key_Delete);
        checkConfirmation(QStringLiteral("Are you sure?"));
        alerts->answer(1000);
        QCOMPARE(CacheManager::shareIntance()->getData(), QVariantList{b});

        QTest::keyClick(table(), Qt::Key_Home);
        QCOMPARE(table()->selectedRow(), 0L);
        QTest::keyClick(table(), Qt::Key_Return);
        QCOMPARE(livePlays, 1);
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), b);
        QTRY_VERIFY(list.isNull());
    }

    void escapeAndCloseButtonClose()
    {
        open();
        QTest::keyClick(table(), Qt::Key_Escape);
        QTRY_VERIFY(list.isNull());
        open();
        QTest::mouseClick(sheet()->findChild<QPushButton *>(QStringLiteral("closeBtn")),
                          Qt::LeftButton);
        QTRY_VERIFY(list.isNull());
        QCOMPARE(livePlays, 0);
    }

    // Tab walks the window in reading order, and a screen reader can tell
    // every control's name and purpose.
    void keyboardOrderAndLabels()
    {
        open();
        const QList<QWidget *> expected{
            table(),
            sheet()->findChild<QPushButton *>(QStringLiteral("importBtn")),
            sheet()->findChild<QPushButton *>(QStringLiteral("importFromBtn")),
            sheet()->findChild<QPushButton *>(QStringLiteral("exportBtn")),
            sheet()->findChild<QPushButton *>(QStringLiteral("redoBtn")),
            sheet()->findChild<QPushButton *>(QStringLiteral("newGroupBtn")),
            sheet()->findChild<QPushButton *>(QStringLiteral("findButton")),
            sheet()->findChild<QPushButton *>(QStringLiteral("closeBtn"))};
        QList<QWidget *> chain;
        QWidget *w = table();
        for (int i = 0; i < expected.size(); ++i) {
            chain << w;
            w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible())
                w = w->nextInFocusChain();
        }
        QCOMPARE(chain, expected);
        QCOMPARE(w, table()); // and round again
        for (QWidget *control : expected) {
            QVERIFY2(!accessibleNameOf(control).isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!accessibleDescriptionOf(control).isEmpty(),
                     qPrintable(control->objectName()));
        }
    }

    // A playlist file chosen with Import…: new stations are appended in one
    // write, the ones already listed skipped, and the window says how many.
    void importThroughTheWindow_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("failWrites");
        QTest::addColumn<QStringList>("names"); // the list afterwards
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("told");

        const QStringList unchanged{"Program a", "Program b"};
        QTest::newRow("pls: one new, one listed under another spelling")
            << QByteArray("[playlist]\nFile1=HTTP://127.0.0.1:9/b.mp3#x\nTitle1=B again\n"
                          "File2=http://127.0.0.1:9/new.mp3\nTitle2=<i>New</i>\x07\n"
                          "File3=javascript:alert(1)\nTitle3=Evil\n")
            << false << QStringList{"Program a", "Program b", "<i>New</i>"}
            << int(Alert::InformationalStyle)
            << "Added 1 program, skipped 1 already in the list. Left out 1 without an http or "
               "https address.";
        QTest::newRow("radiotray-ng json: all listed already")
            << QByteArray("[{\"group\":\"g\",\"stations\":[{\"name\":\"A\",\"url\":"
                          "\"http://127.0.0.1:9/a.mp3\"}]}]")
            << false << unchanged << int(Alert::InformationalStyle)
            << "Nothing new to import: the 1 program is already in the list.";
        QTest::newRow("nothing usable") << QByteArray("#EXTM3U\nfile:///etc/passwd\n") << false
                                        << unchanged << int(Alert::WarningStyle)
                                        << "The file holds no station with an http or https "
                                           "address. Nothing was imported; the list is unchanged.";
        QTest::newRow("binary junk") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11) << false
                                     << unchanged << int(Alert::WarningStyle)
                                     << "The file is not a station list Orbitune can read (M3U, "
                                        "PLS, XSPF, Goodvibes or Radiotray-NG). The list is "
                                        "unchanged.";
        QTest::newRow("the write fails")
            << QByteArray("http://127.0.0.1:9/c.mp3\nhttp://127.0.0.1:9/d.mp3\n") << true
            << unchanged << int(Alert::CriticalStyle)
            << "The programs could not be imported: the change could not be saved. The list is "
               "unchanged.";
    }

    void importThroughTheWindow()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, failWrites);
        QFETCH(QStringList, names);
        QFETCH(int, style);
        QFETCH(QString, told);

        writeStore({entry(QStringLiteral("a")), entry(QStringLiteral("b"))},
                   entry(QStringLiteral("b")));
        QTemporaryDir dir;
        AnsweringFileChooser chooser;
        chooser.path = dir.filePath(QStringLiteral("stations.txt")); // the name says nothing
        writeFile(chooser.path, file);
        open();
        const QByteArray before = storeBytes();
        {
            std::optional<FailingWrites> failing;
            if (failWrites)
                failing.emplace();
            QTest::mouseClick(button("importBtn"), Qt::LeftButton);
        }
        QCOMPARE(chooser.asked, QStringList{QStringLiteral("Import Stations")});
        QCOMPARE(alerts->shown.size(), 1);
        QCOMPARE(alerts->last().messageText, QStringLiteral("Tip："));
        QCOMPARE(alerts->last().informativeText, told);
        QCOMPARE(alerts->last().alertStyle, style);
        QCOMPARE(this->names(CacheManager::shareIntance()->getData()), names);
        QCOMPARE(shownNames(), names);
        if (names.size() == 2)
            QCOMPARE(storeBytes(), before); // not even rewritten
        // Imported programs are programs like any other; the current one stays.
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), entry(QStringLiteral("b")));
        QCOMPARE(livePlays, 0);
    }

    // "Import from…" offers the other players' lists where they are.
    void importFromOffersOtherPlayersLists()
    {
        const QString config = TestEnv::instance()->root() + QStringLiteral("/config");
        const QString goodvibes = config + QStringLiteral("/goodvibes/stations.xml");
        writeFile(goodvibes, "<Stations><Station><name>GV</name><uri>http://127.0.0.1:9/gv</uri>"
                             "</Station></Stations>");
        writeStore({entry(QStringLiteral("a"))});
        open();
        QMenu *menu = button("importFromBtn")->menu();
        QVERIFY(menu);
        Q_EMIT menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 1);
        QVERIFY(menu->actions().first()->text().startsWith(QLatin1String("Goodvibes (")));
        menu->actions().first()->trigger();
        QCOMPARE(alerts->last().informativeText,
                 QStringLiteral("Added 1 program, skipped 0 already in the list."));
        QCOMPARE(shownNames(), (QStringList{"Program a", "GV"}));
        QFile::remove(goodvibes);
        Q_EMIT menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 1);
        QVERIFY(!menu->actions().first()->isEnabled());
    }

    // What Export… writes, Import… brings back: names, addresses and pictures.
    void exportedListImportsBack_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("group"); // of the first program once back
        QTest::newRow("m3u: into the group the list has") << "Orbitune.m3u"
                                                          << "JAZZ";
        QTest::newRow("xspf: no groups") << "Orbitune.xspf" << QString();
    }

    void exportedListImportsBack()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, group);
        QVariantList programs{program::withGroup(entry(QStringLiteral("a")), "Jazz"),
                              program::make(QStringLiteral("Caf\u00E9 <&> \"b\", c"), QString(),
                                            QStringLiteral("https://127.0.0.1:9/b"))};
        writeStore(programs);
        QTemporaryDir dir;
        AnsweringFileChooser chooser;
        chooser.path = dir.filePath(fileName);
        open();
        QTest::mouseClick(button("exportBtn"), Qt::LeftButton);
        QCOMPARE(alerts->last().informativeText,
                 QStringLiteral("Exported the list to %1.").arg(fileName));

        resetStore();
        writeStore({});
        QVERIFY(CacheManager::shareIntance()->addGroup(QStringLiteral("JAZZ")));
        list->loadData();
        QTest::mouseClick(button("importBtn"), Qt::LeftButton);
        QCOMPARE(alerts->last().informativeText,
                 QStringLiteral("Added 2 programs, skipped 0 already in the list."));
        programs[0] = program::withGroup(programs[0].toMap(), group);
        QCOMPARE(CacheManager::shareIntance()->getData(), programs);
    }

    // Alt+Up and Alt+Down move the chosen row; the file keeps the new order,
    // the row stays chosen and a screen reader hears where it went.
    void altUpDownMovesTheChosenRow()
    {
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        const QVariantMap c = entry(QStringLiteral("c"));
        writeStore({a, b, c}, c);
        open();
        AccessibilityEvents heard;
        QLabel *status = sheet()->findChild<QLabel *>(QStringLiteral("orderStatus"));
        QVERIFY(status);
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Down);
        QTest::keyClick(table(), Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{b, a, c}));
        QCOMPARE(shownNames(), (QStringList{"Program b", "Program a", "Program c"}));
        QCOMPARE(table()->selectedRow(), 1L);
        QCOMPARE(status->text(), QStringLiteral("Program a moved to position 2 of 3"));
        QCOMPARE(heard.namesOf(status), QStringList{status->text()});

        QTest::keyClick(table(), Qt::Key_Down, Qt::AltModifier);
        QTest::keyClick(table(), Qt::Key_Down, Qt::AltModifier); // already the last
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{b, c, a}));
        QTest::keyClick(table(), Qt::Key_Up); // plain arrows still only choose
        QCOMPARE(table()->selectedRow(), 1L);
        QTest::keyClick(table(), Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{c, b, a}));
        QCOMPARE(status->text(), QStringLiteral("Program c moved to position 1 of 3"));
        // The current program and the other rows' actions are untouched.
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), c);
        QTest::keyClick(table(), Qt::Key_Return);
        QCOMPARE(livePlays, 1);
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), c);
        QVERIFY(alerts->shown.isEmpty());
    }

    // The list changed behind the open window: nothing is moved blindly.
    void movingAfterTheFileChangedMovesNothing()
    {
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        writeStore({a, b});
        open();
        writeStore({b, a, entry(QStringLiteral("c"))}); // another window reordered it
        const QByteArray before = storeBytes();
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Down);
        QTest::keyClick(table(), Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(storeBytes(), before);
        QCOMPARE(alerts->shown.size(), 1);
        QVERIFY(alerts->last().informativeText.contains(QLatin1String("could not be moved")));
        QCOMPARE(shownNames(), (QStringList{"Program b", "Program a", "Program c"}));
    }

    // A row dragged by its name lands where the line showed.
    void draggingARowMovesIt()
    {
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        const QVariantMap c = entry(QStringLiteral("c"));
        writeStore({a, b, c});
        open();
        QWidget *line = table()->viewport()->findChild<QWidget *>(QStringLiteral("dropIndicator"));
        QVERIFY(line && line->isHidden());
        QWidget *grip = cellAt(0)->nameTF();
        const QPoint start = grip->rect().center();
        QTest::mousePress(grip, Qt::LeftButton, {}, start);
        // Below the middle of the last row: the gap after it.
        const QPoint target = grip->mapFrom(table()->viewport(), QPoint(start.x(), 2 * 36 + 30));
        QTest::mouseMove(grip, start + QPoint(0, 4));
        QTest::mouseMove(grip, target);
        QCOMPARE(table()->dropGap(), 3L);
        QVERIFY(line->isVisible());
        QCOMPARE(line->geometry().top(), 3 * 36 - 1);
        QTest::mouseRelease(grip, Qt::LeftButton, {}, target);
        QVERIFY(line->isHidden());
        QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{b, c, a}));
        QCOMPARE(table()->selectedRow(), 2L);

        // Escape drops the drag: nothing moves.
        const QByteArray before = storeBytes();
        grip = cellAt(0)->nameTF();
        QTest::mousePress(grip, Qt::LeftButton, {}, start);
        QTest::mouseMove(grip, start + QPoint(0, 40));
        QCOMPARE(table()->dropGap(), 2L); // would move it one down
        QTest::keyClick(table(), Qt::Key_Escape);
        QTest::mouseRelease(grip, Qt::LeftButton, {}, start + QPoint(0, 40));
        QCOMPARE(storeBytes(), before);
        QVERIFY(sheet()->isVisible());
    }

    // Groups: headings after the programs of no group, folded with Return
    // or the heading's button; a program moved in with its row's menu and
    // out past its heading with Alt+Up; groups made, renamed and removed.
    void groupsFoldAndTakePrograms()
    {
        const QVariantMap a = program::withGroup(entry(QStringLiteral("a")), "Jazz");
        const QVariantMap c = entry(QStringLiteral("c"));
        writeStore({a, entry(QStringLiteral("b")), c}, c);
        open();
        CacheManager *store = CacheManager::shareIntance();
        auto rows = [this] {
            QStringList out;
            for (long row = 0; row < table()->numberOfRows(); ++row) {
                QWidget *v = table()->viewAtRow(row);
                auto *h = qobject_cast<GroupHeader *>(v);
                out << (h ? h->foldBtn()->text() : qobject_cast<ListCell *>(v)->nameTF()->text());
            }
            return out;
        };
        auto pick = [this](const char *menu, const QString &text) {
            QMenu *shown = nullptr;
            for (QMenu *m : sheet()->findChildren<QMenu *>(QLatin1String(menu)))
                shown = m->isVisible() || m->parent() != sheet() ? m : shown;
            QVERIFY2(shown, menu);
            for (QAction *action : shown->actions())
                if (action->text() == text)
                    return action->trigger();
            QFAIL(qPrintable(text));
        };
        auto answerPrompt = [this](const QString &text) {
            QInputDialog *prompt = nullptr;
            for (auto *p : sheet()->window()->findChildren<QInputDialog *>("groupNamePrompt"))
                prompt = p->isVisible() ? p : prompt;
            QVERIFY(prompt);
            prompt->setTextValue(text);
            prompt->accept();
        };
        QCOMPARE(rows(), (QStringList{"Program b", "Program c", "▾ Jazz", "Program a"}));
        table()->setFocus();
        table()->selectRow(2); // the heading
        QTest::keyClick(table(), Qt::Key_Return);
        QCOMPARE(rows(), (QStringList{"Program b", "Program c", "▸ Jazz"}));
        QCOMPARE(livePlays, 0);
        QToolButton *fold = qobject_cast<GroupHeader *>(table()->viewAtRow(2))->foldBtn();
        QVERIFY(!fold->isChecked());
        QCOMPARE(accessibleNameOf(fold), QStringLiteral("Jazz group"));
        fold->click();
        QCOMPARE(rows().size(), 4);

        // The Menu key on Program c: into Jazz, and the current program too.
        table()->selectRow(1);
        QTest::keyClick(table(), Qt::Key_Menu);
        pick("moveToGroupMenu", "Jazz");
        QCOMPARE(rows(), (QStringList{"Program b", "▾ Jazz", "Program a", "Program c"}));
        QCOMPARE(store->getLiveData(), program::withGroup(c, "Jazz"));
        QCOMPARE(sheet()->findChild<QLabel *>("orderStatus")->text(), "Program c moved to Jazz");
        // Alt+Up on the group's first program takes it out, above the heading.
        table()->selectRow(2);
        QTest::keyClick(table(), Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(rows(), (QStringList{"Program b", "Program a", "▾ Jazz", "Program c"}));
        QCOMPARE(store->getData().at(1).toMap(), entry(QStringLiteral("a")));

        // A new empty group; Jazz renamed from its heading's menu, then
        // removed with Delete and OK, its program staying.
        button("newGroupBtn")->click();
        answerPrompt(QStringLiteral(" News "));
        QCOMPARE(rows().last(), QStringLiteral("▾ News"));
        table()->setFocus();
        table()->selectRow(2);
        QTest::keyClick(table(), Qt::Key_F10, Qt::ShiftModifier);
        pick("groupMenu", QStringLiteral("Rename Group…"));
        answerPrompt(QStringLiteral("Talk"));
        QCOMPARE(store->getGroups(), (QStringList{"Talk", "News"}));
        QCOMPARE(store->getLiveData(), program::withGroup(c, "Talk"));
        QCOMPARE(rows(), (QStringList{"Program b", "Program a", "▾ Talk", "Program c", "▾ News"}));
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Delete);
        alerts->answer(Alert::FirstButtonReturn);
        QCOMPARE(store->getGroups(), QStringList{"News"});
        QCOMPARE(rows(), (QStringList{"Program b", "Program a", "Program c", "▾ News"}));
        QCOMPARE(store->getLiveData(), c);
    }

    void failedWritesAreReportedAndTheTableShowsTheFile()
    {
        const QVariantMap a = entry(QStringLiteral("a"));
        const QVariantMap b = entry(QStringLiteral("b"));
        writeStore({a, b}, b);
        open();
        QSignalSpy closed(list, &ViewController::dismissed);
        {
            FailingWrites failing;
            cellAt(0)->listDelClick();
            alerts->answer(1000);
            QCOMPARE(alerts->shown.size(), 2);
            QCOMPARE(alerts->last().messageText, QStringLiteral("Tip："));
            QVERIFY(alerts->last().informativeText.contains(QLatin1String("could not be saved")));
            QCOMPARE(list->dataArr, (QVariantList{a, b}));
            QCOMPARE(table()->numberOfRows(), 2L);

            // Playing must not start the previous program instead.
            cellAt(0)->listPlayClick();
            QCOMPARE(alerts->shown.size(), 3);
            QCOMPARE(livePlays, 0);
            QCOMPARE(closed.size(), 0);

            list->redoClick();
            alerts->answer(1000);
            QCOMPARE(alerts->shown.size(), 5);
            QVERIFY(alerts->last().informativeText.contains(QLatin1String("could not be saved")));
            QCOMPARE(livePlays, 0);
            // The failed restore left the file as it was, and that is what shows.
            QCOMPARE(CacheManager::shareIntance()->getData(), (QVariantList{a, b}));
            QCOMPARE(CacheManager::shareIntance()->getLiveData(), b);
            QCOMPARE(list->dataArr, (QVariantList{a, b}));
        }
        QVERIFY(sheet()->isVisible());
    }
};

ORBITUNE_TEST_MAIN(ListWindowTest)
#include "tst_listwindow.moc"
