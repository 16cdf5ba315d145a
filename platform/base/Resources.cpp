#include "platform/base/Resources.h"

#include <QtGlobal>

static void initOrbituneResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace orbitune {
void initResources()
{
    static const bool done = (initOrbituneResources(), true);
    Q_UNUSED(done);
}
} // namespace orbitune
