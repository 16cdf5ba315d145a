// One list row on its own: the hover overlay (not before the first paint,
// only in the active window, hidden by a repaint of the row but not by its
// own showing), the log lines, and the play/delete callbacks.
#include "manage/ListCell.h"
#include "support/AccessibilityEvents.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "platform/base/Log.h"
#include "platform/ui/PreviewView.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// Counts paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void enter(QWidget *w)
{
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(w, &event);
}

void leave(QWidget *w)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

} // namespace

class ListCellTest : public QObject {
    Q_OBJECT

    QWidget *window = nullptr;
    ListCell *cell = nullptr;
    std::unique_ptr<LogRecorder> recorder;
    int mouseCalls = 0;

    QWidget *overlay() const { return cell->findChild<QWidget *>(QStringLiteral("listView")); }

    void showActive()
    {
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(cell->isTrackingPointer());
    }

private Q_SLOTS:
    void init()
    {
        recorder = std::make_unique<LogRecorder>();
        mouseCalls = 0;
        window = new QWidget;
        auto *layout = new QVBoxLayout(window);
        cell = new ListCell;
        layout->addWidget(cell);
        window->resize(420, 36);
        cell->setRow(7);
        cell->setMouseBlock([this] { ++mouseCalls; });
    }

    void cleanup()
    {
        recorder.reset();
        delete window;
        window = nullptr;
    }

    void outletsCarryTheirNames()
    {
        QVERIFY(overlay());
        QCOMPARE(cell->objectName(), QStringLiteral("customCellView"));
        QCOMPARE(cell->listPlayBtn()->objectName(), QStringLiteral("listPlayBtn"));
        QCOMPARE(cell->nameTF()->objectName(), QStringLiteral("nameTF"));
        QCOMPARE(cell->urlTF()->objectName(), QStringLiteral("urlTF"));
        QCOMPARE(cell->previewImageView()->objectName(), QStringLiteral("previewImageView"));
        for (QPushButton *b : {cell->listPlayBtn(), cell->listDelBtn()}) {
            QVERIFY(!b->accessibleName().isEmpty());
            QVERIFY(!accessibleDescriptionOf(b).isEmpty());
            QVERIFY(!b->toolTip().isEmpty());
        }
        // The labels are read as what they show, never as a fixed caption.
        cell->nameTF()->setText(QStringLiteral("Jazz"));
        cell->urlTF()->setText(QStringLiteral("http://127.0.0.1:9/jazz"));
        QCOMPARE(accessibleNameOf(cell->nameTF()), QStringLiteral("Jazz"));
        QCOMPARE(accessibleNameOf(cell->urlTF()), QStringLiteral("http://127.0.0.1:9/jazz"));
        QVERIFY(!accessibleDescriptionOf(cell->nameTF()).isEmpty());
        QVERIFY(!accessibleDescriptionOf(cell->urlTF()).isEmpty());
    }

    void ignoresThePointerBeforeItsFirstPaint()
    {
        QVERIFY(!cell->isTrackingPointer());
        enter(cell);
        leave(cell);
        QVERIFY(recorder->lines.isEmpty());
        QCOMPARE(mouseCalls, 0);
        QVERIFY(overlay()->isHidden());
    }

    void ignoresThePointerWhileItsWindowIsNotActive()
    {
        showActive();
        QWidget other;
        other.resize(100, 100);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!window->isActiveWindow());

        enter(cell);
        QVERIFY(recorder->lines.isEmpty());
        QCOMPARE(mouseCalls, 0);
        QVERIFY(overlay()->isHidden());
    }

    void showsOverlayWhileHoveredWithoutFlicker()
    {
        showActive();
        PaintCounter overlayPaints(overlay());
        PaintCounter buttonPaints(cell->listPlayBtn());

        enter(cell);
        QCOMPARE(recorder->lines, QStringList{QStringLiteral("鼠标进入cell范围:7")});
        QCOMPARE(mouseCalls, 1);
        QVERIFY(overlay()->isVisible());
        // Showing the overlay repaints the row under it; that paint must
        // leave the overlay up.
        QTRY_VERIFY(overlayPaints.paints > 0);
        QVERIFY(overlay()->isVisible());
        QCOMPARE(overlay()->palette().color(QPalette::Window),
                 QColor::fromRgbF(0.2f, 0.2f, 0.2f, 0.6f));

        // The pointer moving onto a button repaints that button, and the
        // row beneath it, but does not hide the overlay either.
        const int before = buttonPaints.paints;
        enter(cell->listPlayBtn());
        cell->listPlayBtn()->update();
        QTRY_VERIFY(buttonPaints.paints > before);
        QVERIFY(overlay()->isVisible());
        QCOMPARE(mouseCalls, 1);
    }

    void repaintHidesOverlayUntilThePointerComesBack()
    {
        showActive();
        enter(cell);
        QVERIFY(overlay()->isVisible());

        cell->setNeedsDisplay();
        QTRY_VERIFY(overlay()->isHidden());
        // Still inside: no new enter, so the overlay stays hidden.
        enter(cell);
        QVERIFY(overlay()->isHidden());
        QCOMPARE(mouseCalls, 1);

        leave(cell);
        enter(cell);
        QVERIFY(overlay()->isVisible());
        QCOMPARE(mouseCalls, 2);
    }

    void leavingLogsAndHidesButRunsNoCallback()
    {
        showActive();
        bool played = false;
        bool deleted = false;
        cell->setPlayBlock([&] { played = true; });
        cell->setDelBlock([&] { deleted = true; });
        enter(cell);
        recorder->lines.clear();
        leave(cell);
        QCOMPARE(recorder->lines, QStringList{QStringLiteral("鼠标移出cell范围:7")});
        QVERIFY(overlay()->isHidden());
        QCOMPARE(mouseCalls, 1);
        QVERIFY(!played);
        QVERIFY(!deleted);
        // A second leave without an enter says nothing.
        leave(cell);
        QCOMPARE(recorder->lines.size(), 1);
    }

    void windowLosingFocusEndsTheHover()
    {
        showActive();
        enter(cell);
        QWidget other;
        other.resize(100, 100);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTRY_VERIFY(overlay()->isHidden());
        QVERIFY(recorder->lines.contains(QStringLiteral("鼠标移出cell范围:7")));
    }

    void buttonsRunTheirCallbacksOnlyWhenSet()
    {
        showActive();
        // Unset: nothing happens.
        cell->listPlayBtn()->click();
        cell->listDelBtn()->click();

        int plays = 0;
        int deletes = 0;
        cell->setPlayBlock([&] { ++plays; });
        cell->setDelBlock([&] { ++deletes; });
        QTest::mouseClick(cell->listPlayBtn(), Qt::LeftButton);
        QTest::mouseClick(cell->listDelBtn(), Qt::LeftButton);
        QCOMPARE(plays, 1);
        QCOMPARE(deletes, 1);
        QVERIFY(recorder->lines.isEmpty());
    }

    void callbackMayReplaceItselfWhileRunning()
    {
        // A controller that rebinds the row from within the callback (say,
        // after a synchronous reload) must not pull the callback's captures
        // from under it.
        const QString captured = QStringLiteral("entry held by the first callback");
        QString seen;
        cell->setPlayBlock([this, captured, &seen] {
            cell->setPlayBlock([] {});
            seen = captured;
        });
        cell->listPlayClick();
        QCOMPARE(seen, captured);
    }

    void previewIsRoundedAndRequestsAreReplaced()
    {
        showActive();
        QCOMPARE(cell->previewImageView()->cornerRadius(), 8.0);
        QVERIFY(cell->previewImageView()->masksToBounds());

        QObject *first = cell->beginImageRequest();
        QPointer<QObject> watch(first);
        QObject *second = cell->beginImageRequest();
        QVERIFY(watch.isNull());
        QCOMPARE(cell->currentImageRequest(), second);
    }
};

ORBITUNE_TEST_MAIN(ListCellTest)
#include "tst_listcell.moc"
