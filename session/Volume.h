#pragma once

#include <QObject>

// The listener's volume (0..1 on a perceptual scale, so 0.5 sounds like
// half) and mute, remembered in the settings file. A fade, used by the sleep
// timer, scales what reaches the player without touching what is remembered.
// So does an override (an alarm's own volume): it replaces the level and
// mute until it is cleared or the listener sets either.
class Volume : public QObject {
    Q_OBJECT
public:
    static constexpr double kStep = 0.05;

    explicit Volume(QObject *parent = nullptr);

    double level() const { return m_level; }
    bool isMuted() const { return m_muted; }
    double fade() const { return m_fade; }
    // What the player should play at: level (or the override) times fade.
    double effectiveLevel() const { return heardLevel() * m_fade; }
    // The level as it sounds before any fade: the override while one holds.
    double heardLevel() const { return m_override >= 0 ? m_override : m_level; }
    bool effectiveMuted() const { return m_override < 0 && m_muted; }
    bool hasOverride() const { return m_override >= 0; }

    // Out-of-range values are clamped; NaN is ignored. Either, even to the
    // value it has, ends an override.
    void setLevel(double level);
    void step(int steps);
    void setMuted(bool muted);
    // From what is heard: during an alarm, which sounds, it mutes.
    void toggleMute() { setMuted(!effectiveMuted()); }
    void setFade(double fade);
    void setOverride(double level);
    void clearOverride();

Q_SIGNALS:
    // Level or mute changed by the listener.
    void changed();
    // The override ended because the listener set the level or mute.
    void overrideTaken();
    // Anything the player must hear about changed, the fade included.
    void effectiveChanged();

private:
    void save() const;
    void takeOverride();

    double m_level = 1.0;
    bool m_muted = false;
    double m_fade = 1.0;
    double m_override = -1; // none
};
