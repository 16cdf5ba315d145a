#include "platform/ui/AppIcon.h"

#include <QString>

// The resources live in the static core library; referencing their
// initialiser keeps the linker from dropping them.
static void ensureResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(loaded)
}

namespace AppIcon {

QIcon bundled()
{
    ensureResources();
    // One pixmap per rendered size: below 32 pixels the artwork is simplified,
    // which a single scalable image cannot express.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/orbitune.png").arg(size),
                     QSize(size, size));
    return icon;
}

QIcon application()
{
    return QIcon::fromTheme(QString::fromLatin1(ThemeName), bundled());
}

} // namespace AppIcon
