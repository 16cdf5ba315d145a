#pragma once

#include <QObject>

// The listener's volume (0..1 on a perceptual scale, so 0.5 sounds like
// half) and mute, remembered in the settings file. A fade, used by the sleep
// timer, scales what reaches the player without touching what is remembered.
class Volume : public QObject {
    Q_OBJECT
public:
    static constexpr double kStep = 0.05;

    explicit Volume(QObject *parent = nullptr);

    double level() const { return m_level; }
    bool isMuted() const { return m_muted; }
    double fade() const { return m_fade; }
    // What the player should play at: level times fade.
    double effectiveLevel() const { return m_level * m_fade; }

    // Out-of-range values are clamped; NaN is ignored.
    void setLevel(double level);
    void step(int steps);
    void setMuted(bool muted);
    void toggleMute() { setMuted(!m_muted); }
    void setFade(double fade);

Q_SIGNALS:
    // Level or mute changed by the listener.
    void changed();
    // Anything the player must hear about changed, the fade included.
    void effectiveChanged();

private:
    void save() const;

    double m_level = 1.0;
    bool m_muted = false;
    double m_fade = 1.0;
};
