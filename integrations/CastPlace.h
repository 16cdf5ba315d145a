#pragma once

#include "integrations/PlayOnPlace.h"

#include <QTimer>

#include <memory>

class CastDevice;
struct CastDeviceInfo;

// A Google Cast device as a Play On place, through its Default Media
// Receiver: MP3, AAC and Ogg (Vorbis, Opus) are played; its media status is
// told as a renderer's transport state (and read again every second, as a
// renderer is polled); another sender or app taking it over shows as a URI
// that is not ours.
class CastPlace : public PlayOnPlace {
    Q_OBJECT
public:
    explicit CastPlace(const CastDeviceInfo &info, QObject *parent = nullptr);
    ~CastPlace() override;

    // Whether the Default Media Receiver plays `mime`.
    static bool plays(const QString &mime);

    QString name() const override;
    QString localAddress() const override;
    bool offer(const Stream &stream, Done done) override;
    QString transportState() const override;
    QString currentUri() const override;
    void stop() override;
    void stopThenDelete() override;
    void setVolume(int volume) override;
    void setMute(bool mute) override;

private:
    std::unique_ptr<CastDevice> m_device;
    QString m_localAddress;
    QString m_uri;
    bool m_stopped = false;
    QTimer m_poll;
};
