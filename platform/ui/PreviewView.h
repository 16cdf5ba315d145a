#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

// An image view with a rounded (or round) clip, a border, and an optional
// endless rotation about its centre. The clipped image is rendered once per
// image or size change and reused for every frame. Frames are drawn only as often as the slow
// rotation needs to look smooth, and not at all while the view is hidden or
// its window is not on screen (minimised, or fully covered where the window
// system says so).
class PreviewView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double rotation READ rotation)
public:
    struct RotationAnimation {
        double byRadians = 0;    // turn per period; positive is counter-clockwise
        int durationMs = 0;      // length of one period
        bool cumulative = true;  // periods add up instead of starting over
        quint64 repeatCount = 0; // periods to run; effectively endless when huge
    };

    explicit PreviewView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    QImage image() const { return m_image; }

    void setCornerRadius(double radius);
    double cornerRadius() const { return m_cornerRadius; }
    void setMasksToBounds(bool masks);
    bool masksToBounds() const { return m_masksToBounds; }
    void setBorderWidth(double width);
    double borderWidth() const { return m_borderWidth; }
    void setBorderColor(const QColor &color);
    QColor borderColor() const { return m_borderColor; }

    // Adds a rotation under `key`. Adding the same rotation under a key that
    // is already running keeps it going from where it is, so the picture
    // never jumps.
    void addAnimation(const RotationAnimation &animation, const QString &key);
    void removeAllAnimations();
    bool hasAnimation(const QString &key) const { return m_running && m_key == key; }

    // Current angle in radians (counter-clockwise), 0 when not animating.
    double rotation() const;
    // Frames painted since construction; lets callers check the frame pacing.
    quint64 framesPainted() const { return m_frames; }

    // At a quarter turn per ten seconds the rim of a 130 px preview moves about
    // 10 px a second: ten frames a second move it one pixel at a time.
    static constexpr int kFrameIntervalMs = 100;
    // Device pixel rows drawn per turned draw call (see paintEvent).
    static constexpr int kBandRows = 48;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuildPixmap();
    void nextFrame();
    void updateFrameTimer();
    bool onScreen() const;
    bool sameAnimation(const RotationAnimation &a) const;

    QImage m_image;
    QPixmap m_clipped; // with kMargin of transparency all round
    static constexpr int kMargin = 1;
    QPointer<QWindow> m_watchedWindow;
    double m_cornerRadius = 0;
    bool m_masksToBounds = false;
    double m_borderWidth = 0;
    QColor m_borderColor = Qt::transparent;

    bool m_running = false;
    QString m_key;
    RotationAnimation m_animation;
    QElapsedTimer m_clock;
    QTimer m_frameTimer;
    quint64 m_frames = 0;
};
