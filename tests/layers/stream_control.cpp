// What the stream layer may use: Qt Core and Network and the layers beneath.
#include "platform/base/Clock.h"
#include "platform/stream/StreamTimeline.h"

#include <QTcpSocket>
