#pragma once

#include <QString>

// A Cast device found on the network or given by hand.
struct CastDeviceInfo {
    // The TXT record's `id`; "address:port" for one given by hand.
    QString id;
    // Its friendly name (`fn`), else its address.
    QString name;
    // Its model (`md`), if it said.
    QString model;
    QString host;
    quint16 port = 8009;
};
