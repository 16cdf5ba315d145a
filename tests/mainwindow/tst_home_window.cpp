// The main window without playback: start-up seeding, showing the current
// program, the tray icon and the turning preview.
#include "support/AccessibilityEvents.h"
#include "support/FakeImageLoader.h"
#include "support/FakeMedia.h"
#include "support/LogRecorder.h"
#include "support/TestEnv.h"

#include "mainwindow/HomeViewController.h"
#include "mainwindow/TrayPrograms.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/Settings.h"
#include "platform/plist/PropertyList.h"
#include "platform/ui/Alert.h"
#include "platform/ui/PreviewView.h"
#include "platform/ui/ShortcutRegistry.h"
#include "platform/ui/StatusItem.h"
#include "platform/ui/WindowHost.h"
#include "session/Volume.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "store/ProgramStore.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QWheelEvent>
#include <QWindow>
#include <QtTest>
#include <qpa/qwindowsysteminterface.h>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

class HomeWindowTest : public QObject {
    Q_OBJECT

    FakeImageLoader *images = nullptr;
    HomeViewController *home = nullptr;

    // The window shown and its first frame painted, after which the
    // preview's picture is asked for.
    HomeViewController *makeHome()
    {
        home = new HomeViewController;
        home->view()->show();
        if (QTest::qWaitForWindowExposed(home->view()))
            QTest::qWait(20);
        return home;
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(TestEnv::instance()->dataFile());
        settings::open()->clear();
        CacheManager::setDefaultListPath(fixturePath(QStringLiteral("home/default.plist")));
        images = new FakeImageLoader;
    }

    void cleanup()
    {
        delete home;
        home = nullptr;
        delete images;
    }

    void firstStartSeedsTheDefaultsAndShowsTheCurrentProgram()
    {
        FakeMediaFactory media;
        makeHome();
        const QVariantList list = CacheManager::shareIntance()->getData();
        QCOMPARE(list.size(), 2);
        QCOMPARE(program::name(list.at(0)), QStringLiteral("First"));
        QCOMPARE(program::name(list.at(1)), QStringLiteral("Second"));
        QCOMPARE(home->titleTextField()->text(), QStringLiteral("First"));
        QCOMPARE(home->statusItem()->toolTip(), QStringLiteral("First"));
        QCOMPARE(home->view()->windowTitle(), QStringLiteral("Orbitune"));
        QVERIFY(!(home->view()->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(home->playbackState(), HomeViewController::PlaybackState::Idle);
        // Nothing plays until asked.
        QCOMPARE(media.created(), 0);
    }

    // The tray's programs: those of no group first, a submenu per group, the
    // current one checked; choosing one plays it, and Next Program stays in
    // its group.
    void trayProgramsByGroupAndNextWithinTheGroup()
    {
        FakeMediaFactory media;
        makeHome();
        QVariantList list;
        for (const char *name : {"One", "Jazz:Two", "Three", "Jazz:Four"}) {
            const QString group = QString::fromLatin1(name).section(u':', -2, -2);
            const QString title = QString::fromLatin1(name).section(u':', -1);
            list << program::withGroup(
                program::make(title, QString(), QStringLiteral("http://127.0.0.1:9/") + title),
                group);
        }
        QVERIFY(CacheManager::shareIntance()->appendData(list));
        ProgramStore store;
        TrayPrograms tray(&store, home->host());
        auto texts = [](QMenu *menu) {
            QStringList out;
            for (QAction *a : menu->actions())
                out << a->text() + (a->isChecked() ? QStringLiteral(" *") : QString());
            return out;
        };
        Q_EMIT home->host()->trayMenuAboutToShow();
        // After the two programs the window seeded.
        QCOMPARE(texts(tray.menu()), (QStringList{"First *", "Second", "One", "Three", "Jazz"}));
        QMenu *jazz = tray.menu()->actions().last()->menu();
        QCOMPARE(texts(jazz), (QStringList{"Two", "Four"}));
        jazz->actions().first()->trigger();
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), list.at(1).toMap());
        QAction *next = nullptr;
        for (QWidget *w : QApplication::allWidgets())
            next = next ? next : w->findChild<QAction *>("nextProgram");
        QVERIFY(next);
        next->trigger();
        QCOMPARE(CacheManager::shareIntance()->getLiveData(), list.at(3).toMap());
        Q_EMIT home->host()->trayMenuAboutToShow();
        QCOMPARE(texts(tray.menu()->actions().last()->menu()), (QStringList{"Two", "Four *"}));
    }

    void failedSeedingIsToldAndDoneAgainAtTheNextStart()
    {
        struct Recorder : AlertPresenter {
            Recorder() { AlertPresenter::setShared(this); }
            ~Recorder() override { AlertPresenter::setShared(nullptr); }
            void present(const Alert &alert, QWidget *window, std::function<void(long)>) override
            {
                shown << alert;
                windows << window;
            }
            QList<Alert> shown;
            QList<QWidget *> windows;
        } alerts;
        {
            // Every write fails (the file size limit binds root as well).
            auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit saved{};
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit tiny = saved;
            tiny.rlim_cur = 8;
            setrlimit(RLIMIT_FSIZE, &tiny);
            makeHome();
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        }
        QVERIFY(CacheManager::shareIntance()->getData().isEmpty());
        QTRY_COMPARE(alerts.shown.size(), 1);
        QCOMPARE(alerts.shown.first().messageText, QStringLiteral("Tip："));
        QVERIFY(alerts.shown.first().informativeText.contains(QLatin1String("could not be saved")));
        QCOMPARE(alerts.windows.first(), home->view());

        delete home;
        home = nullptr;
        makeHome();
        QCOMPARE(CacheManager::shareIntance()->getData().size(), 2);
        QCOMPARE(home->titleTextField()->text(), QStringLiteral("First"));
        QCoreApplication::processEvents(); // where the alert would be shown
        QCOMPARE(alerts.shown.size(), 1);
    }

    void existingListIsLeftAloneEvenWithoutCurrentProgram()
    {
        const QVariantMap mine =
            program::make(QStringLiteral("Mine"), QString(), QStringLiteral("http://x/"));
        QVERIFY(propertylist::writeFile(TestEnv::instance()->dataFile(),
                                        QVariantMap{{QStringLiteral("data"), QVariantList{mine}}}));
        const QByteArray before = [] {
            QFile f(TestEnv::instance()->dataFile());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        makeHome();
        QFile f(TestEnv::instance()->dataFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        // No current program: everything reads empty, and the window works.
        QVERIFY(home->titleTextField()->text().isEmpty());
        QVERIFY(home->statusItem()->toolTip().isEmpty());
        QVERIFY(home->previewImageView()->image().isNull());
        QVERIFY(images->requests.isEmpty());
    }

    void previewLoadsAsynchronouslyAndDropsLateReplies()
    {
        // Asked for only once the first frame is on screen.
        home = new HomeViewController;
        home->view()->show();
        QVERIFY(images->requests.isEmpty());
        QVERIFY(QTest::qWaitForWindowExposed(home->view()));
        QTRY_COMPARE(images->requests.size(), 1);
        QCOMPARE(images->requests.at(0).url, QUrl(QStringLiteral("http://127.0.0.1:1/first.png")));
        QVERIFY(home->previewImageView()->image().isNull());

        // The current program changes before the first picture arrives.
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Second"), QStringLiteral("http://127.0.0.1:1/second.png"),
                          QStringLiteral("http://127.0.0.1:1/second"))));
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 2);
        images->answer(0, FakeImageLoader::solid(Qt::red));
        QVERIFY(home->previewImageView()->image().isNull());
        images->answer(1, FakeImageLoader::solid(Qt::blue));
        QCOMPARE(home->previewImageView()->image().pixelColor(1, 1), QColor(Qt::blue));

        // Refreshing the same program does not fetch again or blank the view.
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 2);
        QVERIFY(!home->previewImageView()->image().isNull());

        // A failed load leaves the preview empty; so does a malformed URL.
        QVERIFY(CacheManager::shareIntance()->saveLiveData(program::make(
            QStringLiteral("Third"), QStringLiteral("http://127.0.0.1:1/third.png"), QString())));
        home->refeshLiveView();
        images->answer(2, QImage());
        QVERIFY(home->previewImageView()->image().isNull());
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Fourth"), QStringLiteral("::not a url::"), QString())));
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 3);
        QCOMPARE(home->titleTextField()->text(), QStringLiteral("Fourth"));
    }

    void failedPreviewIsRetriedOnALaterRefreshAtMostOncePerInterval()
    {
        makeHome();
        home->setPreviewRetryInterval(std::chrono::milliseconds(300));
        QCOMPARE(images->requests.size(), 1);
        images->answer(0, QImage()); // host down
        QVERIFY(home->previewImageView()->image().isNull());

        // Right away: not asked again.
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 1);
        // Once the interval has passed, the next refresh asks again.
        QTRY_COMPARE((home->refeshLiveView(), images->requests.size()), 2);
        QCOMPARE(images->requests.at(1).url, images->requests.at(0).url);
        // While that load runs, refreshing does not start another.
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 2);
        images->answer(1, FakeImageLoader::solid(Qt::green));
        QCOMPARE(home->previewImageView()->image().pixelColor(1, 1), QColor(Qt::green));

        // A picture that loaded is not fetched again, however long we wait.
        home->setPreviewRetryInterval(std::chrono::milliseconds(0));
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 2);
        QVERIFY(!home->previewImageView()->image().isNull());
    }

    void previewFailedForAnotherProgramWaitsOutItsInterval()
    {
        makeHome();
        home->setPreviewRetryInterval(std::chrono::minutes(1));
        images->answer(0, QImage());
        const QVariantMap first = CacheManager::shareIntance()->getLiveData();
        // Switching away and back within the interval does not hammer the host.
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Second"), QStringLiteral("http://127.0.0.1:1/second.png"),
                          QStringLiteral("http://127.0.0.1:1/second"))));
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 2);
        QVERIFY(CacheManager::shareIntance()->saveLiveData(first));
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 2);
        // The second program's load was dropped by the switch: coming back to
        // it asks again.
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Second"), QStringLiteral("http://127.0.0.1:1/second.png"),
                          QStringLiteral("http://127.0.0.1:1/second"))));
        home->refeshLiveView();
        QCOMPARE(images->requests.size(), 3);
        images->answer(1, FakeImageLoader::solid(Qt::red)); // late: dropped
        images->answer(2, FakeImageLoader::solid(Qt::blue));
        QCOMPARE(home->previewImageView()->image().pixelColor(1, 1), QColor(Qt::blue));
    }

    void wrongTypesInTheCurrentProgramReadAsMissing()
    {
        QVariantMap live{{QStringLiteral("name"), 42},
                         {QStringLiteral("image"), QVariantList{1, 2}},
                         {QStringLiteral("url"), QVariantMap()}};
        QVERIFY(propertylist::writeFile(
            TestEnv::instance()->dataFile(),
            QVariantMap{{QStringLiteral("data"), QVariantList{QStringLiteral("junk")}},
                        {QStringLiteral("live"), live}}));
        makeHome();
        QVERIFY(home->titleTextField()->text().isEmpty());
        QVERIFY(images->requests.isEmpty());
        home->playClick();
        QCOMPARE(home->titleTextField()->text(), QStringLiteral("Error, switch next one."));
    }

    void programTextsAreShownAsPlainText()
    {
        const QString name = QStringLiteral("<b>x</b><img src=\"file:///etc/passwd\">");
        QVERIFY(propertylist::writeFile(
            TestEnv::instance()->dataFile(),
            QVariantMap{
                {QStringLiteral("data"), QVariantList{program::make(name, QString(), QString())}},
                {QStringLiteral("live"), program::make(name, QString(), QString())}}));
        makeHome();
        QCOMPARE(home->titleTextField()->textFormat(), Qt::PlainText);
        QCOMPARE(home->nowPlayingLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(home->titleTextField()->text(), name);
        QCOMPARE(home->statusItem()->toolTip(), name);
        // What the panel shows is escaped: the name reads as typed.
        auto *tray = home->statusItem()->findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        QCOMPARE(tray->toolTip(), name.toHtmlEscaped());
    }

    void previewIsRoundWithAnOrangeBorder()
    {
        makeHome();
        PreviewView *preview = home->previewImageView();
        QCOMPARE(preview->size(), QSize(130, 130));
        QCOMPARE(preview->cornerRadius(), 65.0);
        QVERIFY(preview->masksToBounds());
        QCOMPARE(preview->borderWidth(), 2.0);
        // The standard orange: red 1.0, green 0.5, blue 0.0.
        QCOMPARE(preview->borderColor().name(), QStringLiteral("#ff8000"));

        images->answer(0, FakeImageLoader::solid(Qt::blue, 260));
        QImage shot(preview->size(), QImage::Format_ARGB32_Premultiplied);
        shot.fill(Qt::transparent);
        preview->render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
        // Corners are outside the circle; the middle shows the picture.
        QCOMPARE(shot.pixelColor(2, 2).alpha(), 0);
        QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() / 2), QColor(Qt::blue));
    }

    void animationTurnsCounterClockwiseAndStopsUpright()
    {
        makeHome();
        PreviewView *preview = home->previewImageView();
        const QPoint where = preview->pos();
        QCOMPARE(preview->rotation(), 0.0);
        home->stopAnimation(); // nothing running: nothing happens
        QCOMPARE(preview->rotation(), 0.0);

        home->startAnimation();
        QTRY_VERIFY(preview->rotation() > 0.01); // positive is counter-clockwise
        const double before = preview->rotation();
        home->startAnimation(); // again: no jump back, no drift
        QVERIFY(preview->rotation() >= before);
        QCOMPARE(preview->pos(), where);
        QCOMPARE(home->previewImageViewPoint().toPoint(), where);

        // A quarter turn takes ten seconds: after ~0.5 s it is near 0.08 rad.
        QTest::qWait(500);
        QVERIFY(preview->rotation() > 0.04);
        QVERIFY(preview->rotation() < 0.2);

        home->stopAnimation();
        QCOMPARE(preview->rotation(), 0.0);
        QCOMPARE(preview->pos(), where);
    }

    void animationPaintsSparinglyAndNotWhenHidden()
    {
        makeHome();
        PreviewView *preview = home->previewImageView();
        home->startAnimation();
        const quint64 start = preview->framesPainted();
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(1000);
        const double frames = double(preview->framesPainted() - start);
        const double perSecond = frames * 1000.0 / double(clock.elapsed());
        qInfo("preview frames per second while turning: %.1f", perSecond);
        QVERIFY(perSecond >= 5);  // still moving
        QVERIFY(perSecond <= 30); // but never at full refresh rate

        home->view()->hide();
        const quint64 hiddenStart = preview->framesPainted();
        QTest::qWait(300);
        QCOMPARE(preview->framesPainted(), hiddenStart);

        // Shown again: the frames resume.
        home->view()->show();
        QTRY_VERIFY(preview->framesPainted() > hiddenStart + 1);
    }

    // A turned frame looks like the picture turned counter-clockwise by the
    // painter's own smooth transform: no seams between the bands it is
    // drawn in, no shift from its margin, the right direction.
    void turnedPreviewIsThePictureTurned()
    {
        const QVariantMap station =
            program::make(QStringLiteral("Turning"), QStringLiteral("http://127.0.0.1:9/turn.png"),
                          QStringLiteral("http://127.0.0.1:9/live"));
        QVERIFY(propertylist::writeFile(TestEnv::instance()->dataFile(),
                                        QVariantMap{{QStringLiteral("data"), QVariantList{station}},
                                                    {QStringLiteral("live"), station}}));
        makeHome();
        QTRY_VERIFY(!images->requests.isEmpty());
        PreviewView *preview = home->previewImageView();
        QImage picture(260, 260, QImage::Format_ARGB32);
        picture.fill(Qt::blue);
        {
            QPainter p(&picture);
            p.fillRect(0, 0, 130, 260, Qt::red);
            p.fillRect(0, 100, 260, 40, Qt::yellow);
        }
        images->answer(0, picture);
        auto snapshot = [preview] {
            QImage shot(preview->size(), QImage::Format_ARGB32_Premultiplied);
            shot.fill(Qt::transparent);
            preview->render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
            return shot;
        };
        const QImage upright = snapshot();
        home->startAnimation();
        QTRY_VERIFY_WITH_TIMEOUT(preview->rotation() > 0.15, 5000);
        const double angle = preview->rotation();
        const QImage turned = snapshot();
        auto turnedBy = [&upright](double radians) {
            QImage out(upright.size(), QImage::Format_ARGB32_Premultiplied);
            out.fill(Qt::transparent);
            QPainter p(&out);
            p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
            const QPointF centre = QRectF(out.rect()).center();
            p.translate(centre);
            p.rotate(-radians * 180.0 / M_PI);
            p.translate(-centre);
            p.drawImage(0, 0, upright);
            return out;
        };
        auto difference = [](const QImage &a, const QImage &b) {
            double sum = 0;
            for (int y = 0; y < a.height(); ++y) {
                for (int x = 0; x < a.width(); ++x) {
                    const QRgb p = a.pixel(x, y);
                    const QRgb q = b.pixel(x, y);
                    sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                           std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
                }
            }
            return sum / (a.width() * a.height() * 4.0);
        };
        const double same = difference(turned, turnedBy(angle));
        const double mirrored = difference(turned, turnedBy(-angle));
        qInfo("turned frame against the painter's turn: %.2f; against the other way: %.2f", same,
              mirrored);
        QVERIFY(same < 3);
        QVERIFY(mirrored > 4 * same);
    }

    // A screen reader reads the title's text, not a fixed label, hears each
    // change of it once, and knows whose picture the preview shows.
    void screenReaderHearsTheTitleAndThePicture()
    {
        makeHome();
        QLabel *title = home->titleTextField();
        QCOMPARE(accessibleNameOf(title), QStringLiteral("First"));
        QVERIFY(!accessibleDescriptionOf(title).isEmpty());
        QCOMPARE(accessibleNameOf(home->previewImageView()), QStringLiteral("First picture"));
        for (const char *name : {"playBtn", "listBtn", "addBtn"}) {
            auto *control = home->view()->findChild<QWidget *>(QString::fromLatin1(name));
            QVERIFY2(!accessibleNameOf(control).isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!accessibleDescriptionOf(control).isEmpty(),
                     qPrintable(control->objectName()));
        }

        AccessibilityEvents heard;
        QVERIFY(AccessibilityEvents::active());
        const QVariantMap second = CacheManager::shareIntance()->getData().at(1).toMap();
        QVERIFY(CacheManager::shareIntance()->saveLiveData(second));
        home->refeshLiveView();
        home->refeshLiveView(); // the same program again is not news
        QCOMPARE(heard.namesOf(title), QStringList{QStringLiteral("Second")});
        QCOMPARE(heard.namesOf(home->previewImageView()),
                 QStringList{QStringLiteral("Second picture")});

        // A program whose address is not a URL fails at once.
        heard.clear();
        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Broken"), QString(), QStringLiteral("not a url"))));
        home->playClick();
        QCOMPARE(title->text(), QStringLiteral("Error, switch next one."));
        QCOMPARE(accessibleNameOf(title), title->text());
        QCOMPARE(heard.namesOf(title), (QStringList{QStringLiteral("Broken"),
                                                    QStringLiteral("Error, switch next one.")}));
        QCOMPARE(accessibleNameOf(home->previewImageView()), QStringLiteral("Broken picture"));
    }

    void statusItemTogglesTheWindow()
    {
        makeHome();
        QWidget *window = home->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        home->statusItem()->performClick();
        QTRY_VERIFY(!window->isVisible());
        home->statusItem()->performClick();
        QTRY_VERIFY(window->isVisible());
        QTRY_VERIFY(window->isActiveWindow());
    }

    void statusItemHidesAWindowThatJustLostTheFocusToThePanel()
    {
        // A click on the panel takes the focus first; the window was in
        // front a moment ago, so the click hides it.
        makeHome();
        QWidget *window = home->view();
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
        QApplication::setActiveWindow(nullptr);
        QTRY_VERIFY(!window->isActiveWindow());
        QMenu *menu = home->statusMenu();
        Q_EMIT menu->aboutToShow();
        QCOMPARE(menu->findChild<QAction *>(QStringLiteral("showAction"))->text(),
                 QStringLiteral("Hide"));
        home->statusItem()->performClick();
        QTRY_VERIFY(!window->isVisible());
    }

    void statusItemBringsBackAMinimisedWindow()
    {
        makeHome();
        QWidget *window = home->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->showMinimized();
        QTRY_VERIFY(window->isMinimized());
        // Qt still calls it visible; the click must restore it, not hide it.
        home->statusItem()->performClick();
        QTRY_VERIFY(window->isActiveWindow());
        QVERIFY(window->isVisible());
        QVERIFY(!(window->windowState() & Qt::WindowMinimized));
    }

    void statusItemRaisesAWindowBehindOthers()
    {
        makeHome();
        QWidget *window = home->view();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QWidget other;
        other.setObjectName(QStringLiteral("otherWindow"));
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        QVERIFY(!window->isActiveWindow());
        home->statusItem()->performClick();
        QTRY_VERIFY(window->isActiveWindow());
        QVERIFY(window->isVisible());
        // Now it is in front, the next click hides it.
        home->statusItem()->performClick();
        QTRY_VERIFY(!window->isVisible());
    }

    void statusItemTooltipIsTheCurrentProgramFromSetUp()
    {
        // The window title is only a placeholder: the refresh during set-up
        // replaces it with the current program's name, empty when there is
        // none (no list stored and no defaults to seed).
        CacheManager::setDefaultListPath(QStringLiteral("/nonexistent/default.plist"));
        makeHome();
        QCOMPARE(home->statusItem()->toolTip(), QString());
        QVERIFY(home->statusItem()->toolTip() != home->view()->windowTitle());
        QVERIFY(QFile::exists(TestEnv::instance()->dataFile()));

        QVERIFY(CacheManager::shareIntance()->saveLiveData(
            program::make(QStringLiteral("Later"), QString(), QStringLiteral("http://x/"))));
        home->refeshLiveView();
        QCOMPARE(home->statusItem()->toolTip(), QStringLiteral("Later"));
    }

    void volumeKeysTrayWheelAndTooltip()
    {
        makeHome();
        QWidget *window = home->view();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        Volume *volume = home->session()->volume();
        QCOMPARE(volume->level(), 1.0);
        const QString name = home->statusItem()->toolTip();

        QTest::keyClick(window, Qt::Key_Down);
        QCOMPARE(volume->level(), 0.95);
        QTest::keyClick(window, Qt::Key_Up);
        QTest::keyClick(window, Qt::Key_Up); // stops at full
        QCOMPARE(volume->level(), 1.0);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(window, Qt::Key_Minus);
        QTest::keyClick(window, Qt::Key_Plus);
        QCOMPARE(volume->level(), 0.9);
        QCOMPARE(home->statusItem()->toolTip(), name + QStringLiteral("\nVolume 90%"));
        QTest::keyClick(window, Qt::Key_M);
        QVERIFY(volume->isMuted());
        QCOMPARE(home->statusItem()->toolTip(), name + QStringLiteral("\nMuted"));
        QTest::keyClick(window, Qt::Key_M);
        QVERIFY(!volume->isMuted());

        // Wheel on the tray icon: whole notches, half notches add up.
        auto *tray = home->statusItem()->findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        auto wheel = [tray](int delta) {
            QWheelEvent event(QPointF(), QPointF(), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(tray, &event);
        };
        wheel(-240);
        QCOMPARE(volume->level(), 0.8);
        wheel(60);
        QCOMPARE(volume->level(), 0.8);
        wheel(60);
        QCOMPARE(volume->level(), 0.85);
        // The tooltip goes back to the program's name after a moment.
        QTRY_COMPARE_WITH_TIMEOUT(home->statusItem()->toolTip(), name, 4000);

        // A key the window answers already is refused and keeps its action.
        LogRecorder log;
        bool taken = false;
        QVERIFY(!ShortcutRegistry::add(window, QKeySequence(Qt::Key_M), QStringLiteral("other"),
                                       home, [&taken] { taken = true; }));
        QVERIFY(log.contains(QStringLiteral("M for other refused: muteShortcut has it")));
        // Remembered in the settings file, not in the program list.
        QTest::keyClick(window, Qt::Key_M);
        QVERIFY(!taken);
        delete home;
        makeHome();
        QCOMPARE(home->session()->volume()->level(), 0.85);
        QVERIFY(home->session()->volume()->isMuted());
        QFile data(TestEnv::instance()->dataFile());
        QVERIFY(data.open(QIODevice::ReadOnly));
        QVERIFY(!data.readAll().contains("volume"));
    }
};

ORBITUNE_TEST_MAIN(HomeWindowTest)
#include "tst_home_window.moc"
