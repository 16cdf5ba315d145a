// Which artwork the window ends up with.

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

class TestAppIcon : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void resourcesLoad_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *p : {AppIcon::ScalableResource, AppIcon::SymbolicResource})
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
};

ORBITUNE_TEST_MAIN(TestAppIcon)

#include "tst_appicon.moc"
