#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

// A built-in tone that sounds without any network: short beeps of a clear
// 880 Hz sine, for an alarm whose station stays silent. No file, no stream;
// GStreamer makes the sound and plays it on the default output.
class TonePlayer : public QObject {
    Q_OBJECT
public:
    static constexpr int kHz = 880;

    explicit TonePlayer(QObject *parent = nullptr);
    ~TonePlayer() override;

    // Starts beeping at `volume` (0..1); again while sounding sets the volume.
    // False when no sound output could be made (the log says why).
    bool start(double volume);
    void stop();
    bool isSounding() const { return m_pipeline != nullptr; }

private:
    void beat();

    struct Pipeline;
    std::unique_ptr<Pipeline> m_pipeline;
    QTimer m_beat;
    bool m_on = false;
    double m_volume = 1.0;
};
