// What a store file may use: Qt Core, the log and the property-list layer.
#include "platform/base/Log.h"
#include "platform/plist/PropertyList.h"
#include "store/CacheManager.h"

#include <QVariantMap>
#include <QtCore/QString>

int layerControl()
{
    return int(QVariantMap().size() + QString().size());
}
