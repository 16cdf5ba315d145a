// Which artwork the window and the tray end up with.

#include "support/TestEnv.h"

#include "platform/ui/AppIcon.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Tones {
    int opaque = 0;
    int light = 0; // opaque pixels with lightness above 200
    int dark = 0;  // opaque pixels with lightness below 80
};

Tones tonesOf(const QIcon &icon, int size)
{
    const QImage img =
        icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    Tones t;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.alpha() < 200)
                continue;
            ++t.opaque;
            if (c.lightness() > 200)
                ++t.light;
            else if (c.lightness() < 80)
                ++t.dark;
        }
    }
    return t;
}

} // namespace

class TestAppIcon : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resourcesLoad_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *p :
             {AppIcon::ScalableResource, AppIcon::TrayResource, AppIcon::TrayForDarkPanelResource,
              AppIcon::TrayForLightPanelResource, AppIcon::SymbolicResource})
            QTest::newRow(p) << QString::fromLatin1(p);
    }

    void resourcesLoad()
    {
        QFETCH(QString, path);
        (void)AppIcon::bundled(); // makes sure the resources are registered
        QImageReader reader(path);
        const QImage img = reader.read();
        QVERIFY2(!img.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(img.width(), img.height());
    }

    void bundledIconHasEveryRenderedSize()
    {
        const QIcon icon = AppIcon::bundled();
        QVERIFY(!icon.isNull());
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QImage expected(QStringLiteral(":/icons/hicolor/%1x%1/orbitune.png").arg(size));
            QVERIFY(!expected.isNull());
            QCOMPARE(icon.pixmap(size, size)
                         .toImage()
                         .convertToFormat(QImage::Format_ARGB32_Premultiplied),
                     expected.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        }
        // The small sizes are their own simplified artwork, not a scaled-down
        // copy of the large one.
        const QImage scaled = icon.pixmap(256, 256).toImage().scaled(16, 16, Qt::IgnoreAspectRatio,
                                                                     Qt::SmoothTransformation);
        QVERIFY(scaled.convertToFormat(QImage::Format_ARGB32_Premultiplied) !=
                icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }

    void installedThemeIconWins()
    {
        // Without an installed icon the bundled one stands in.
        QIcon::setThemeSearchPaths({QStringLiteral("/nonexistent")});
        QIcon::setThemeName(QStringLiteral("hicolor"));
        QVERIFY(!AppIcon::application().isNull());
        QCOMPARE(AppIcon::application().pixmap(16, 16).toImage().convertToFormat(
                     QImage::Format_ARGB32_Premultiplied),
                 QImage(QStringLiteral(":/icons/hicolor/16x16/orbitune.png"))
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied));

        // An installed theme icon (here a plain red square) is preferred.
        QTemporaryDir dir;
        const QString theme = dir.path() + QStringLiteral("/hicolor");
        QVERIFY(QDir().mkpath(theme + QStringLiteral("/48x48/apps")));
        QFile index(theme + QStringLiteral("/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
                    "[48x48/apps]\nSize=48\nContext=Applications\nType=Threshold\n");
        index.close();
        QImage red(48, 48, QImage::Format_ARGB32_Premultiplied);
        red.fill(Qt::red);
        QVERIFY(red.save(theme + QStringLiteral("/48x48/apps/orbitune.png")));

        QIcon::setThemeSearchPaths({dir.path()});
        QIcon::setThemeName(QStringLiteral("hicolor"));
        const QIcon icon = AppIcon::application();
        QCOMPARE(icon.name(), QStringLiteral("orbitune"));
        QCOMPARE(icon.pixmap(48, 48).toImage().pixelColor(24, 24), QColor(Qt::red));
        QIcon::setThemeSearchPaths({QStringLiteral("/nonexistent")});
    }

    // Swapped files would put a white glyph on a white panel.
    void trayGlyphsContrastWithTheirPanels()
    {
        const Tones forDark = tonesOf(AppIcon::tray(AppIcon::Panel::Dark), 22);
        QVERIFY(forDark.opaque > 30);
        QCOMPARE(forDark.dark, 0);
        QVERIFY(forDark.light > forDark.opaque * 3 / 4);

        const Tones forLight = tonesOf(AppIcon::tray(AppIcon::Panel::Light), 22);
        QVERIFY(forLight.opaque > 30);
        QCOMPARE(forLight.light, 0);
        QVERIFY(forLight.dark > forLight.opaque * 3 / 4);

        // The default glyph carries both: a light core and a dark outline.
        const Tones any = tonesOf(AppIcon::tray(), 22);
        QVERIFY(any.light > 20);
        QVERIFY(any.dark > 20);
    }
};

ORBITUNE_TEST_MAIN(TestAppIcon)

#include "tst_appicon.moc"
