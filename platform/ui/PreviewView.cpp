#include "platform/ui/PreviewView.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

PreviewView::PreviewView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_frameTimer.setInterval(kFrameIntervalMs);
    m_frameTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &PreviewView::nextFrame);
}

void PreviewView::setImage(const QImage &image)
{
    m_image = image;
    rebuildPixmap();
    update();
}

void PreviewView::setCornerRadius(double radius)
{
    m_cornerRadius = radius;
    rebuildPixmap();
    update();
}

void PreviewView::setMasksToBounds(bool masks)
{
    m_masksToBounds = masks;
    rebuildPixmap();
    update();
}

void PreviewView::setBorderWidth(double width)
{
    m_borderWidth = width;
    rebuildPixmap();
    update();
}

void PreviewView::setBorderColor(const QColor &color)
{
    m_borderColor = color;
    rebuildPixmap();
    update();
}

bool PreviewView::sameAnimation(const RotationAnimation &a) const
{
    return a.byRadians == m_animation.byRadians && a.durationMs == m_animation.durationMs &&
           a.cumulative == m_animation.cumulative && a.repeatCount == m_animation.repeatCount;
}

void PreviewView::addAnimation(const RotationAnimation &animation, const QString &key)
{
    if (m_running && m_key == key && sameAnimation(animation))
        return;
    m_animation = animation;
    m_key = key;
    m_running = animation.durationMs > 0;
    if (m_running)
        m_clock.start();
    updateFrameTimer();
    update();
}

void PreviewView::removeAllAnimations()
{
    if (!m_running)
        return;
    m_running = false;
    m_key.clear();
    m_frameTimer.stop();
    update();
}

double PreviewView::rotation() const
{
    if (!m_running)
        return 0;
    const double periods = double(m_clock.elapsed()) / m_animation.durationMs;
    if (periods >= double(m_animation.repeatCount))
        return m_animation.cumulative ? m_animation.byRadians * double(m_animation.repeatCount) : 0;
    if (m_animation.cumulative)
        return m_animation.byRadians * periods;
    return m_animation.byRadians * (periods - std::floor(periods));
}

void PreviewView::rebuildPixmap()
{
    const qreal dpr = devicePixelRatioF();
    if (size().isEmpty()) {
        m_clipped = QPixmap();
        return;
    }
    // A transparent margin all round: turned, the picture's own edges are
    // smoothed by the sampling, and the outline of the turned square falls
    // where there is nothing to smooth.
    const QSize px =
        (QSizeF(size().grownBy(QMargins(kMargin, kMargin, kMargin, kMargin))) * dpr).toSize();
    QImage pm(px, QImage::Format_ARGB32_Premultiplied);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.translate(kMargin, kMargin);
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF bounds(QPointF(0, 0), QSizeF(size()));
    const double radius = qMin(m_cornerRadius, qMin(bounds.width(), bounds.height()) / 2);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    if (m_masksToBounds)
        p.setClipPath(shape);
    if (!m_image.isNull()) {
        // Fill the view, cropping the longer side.
        const QSizeF scaled =
            QSizeF(m_image.size()).scaled(bounds.size(), Qt::KeepAspectRatioByExpanding);
        QRectF target(QPointF(0, 0), scaled);
        target.moveCenter(bounds.center());
        p.drawImage(target, m_image);
    }
    if (m_borderWidth > 0) {
        p.setClipping(false);
        QPen pen(m_borderColor, m_borderWidth);
        pen.setJoinStyle(Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        const double inset = m_borderWidth / 2;
        const QRectF inner = bounds.adjusted(inset, inset, -inset, -inset);
        const double r = qMax(0.0, radius - inset);
        p.drawRoundedRect(inner, r, r);
    }
    p.end();
    m_clipped = QPixmap::fromImage(pm);
}

void PreviewView::paintEvent(QPaintEvent *)
{
    ++m_frames;
    if (m_clipped.isNull())
        return;
    QPainter p(this);
    const double angle = rotation();
    const QPointF origin(-kMargin, -kMargin);
    if (angle == 0) {
        p.drawPixmap(origin, m_clipped);
        return;
    }
    const QPointF centre = QRectF(rect()).center();
    QTransform turn;
    turn.translate(centre.x(), centre.y());
    // Screen y grows downwards, so a counter-clockwise turn is a negative
    // angle for QPainter.
    turn.rotate(-angle * 180.0 / M_PI);
    turn.translate(-centre.x(), -centre.y());
    // Smooth sampling, and no edge smoothing: the margin is what the turned
    // outline cuts through. Drawn in bands, since the raster engine hands a
    // taller draw to its worker threads, and waking them ten times a second
    // costs more than this small draw itself.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const int band = qMax(1, int(kBandRows / devicePixelRatioF()));
    for (int top = 0; top < height(); top += band) {
        p.setClipRect(QRect(0, top, width(), band));
        p.setTransform(turn);
        p.drawPixmap(origin, m_clipped);
        p.resetTransform();
    }
}

void PreviewView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    rebuildPixmap();
}

void PreviewView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateFrameTimer();
}

void PreviewView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateFrameTimer();
}

bool PreviewView::eventFilter(QObject *watched, QEvent *event)
{
    // The window was exposed or covered, minimised or restored.
    if (watched == m_watchedWindow && event->type() == QEvent::Expose)
        QTimer::singleShot(0, this, &PreviewView::updateFrameTimer);
    return QWidget::eventFilter(watched, event);
}

bool PreviewView::onScreen() const
{
    const QWindow *handle = window()->windowHandle();
    return isVisible() && handle && handle->isExposed();
}

void PreviewView::nextFrame()
{
    if (!onScreen()) {
        updateFrameTimer();
        return;
    }
    update();
}

void PreviewView::updateFrameTimer()
{
    QWindow *handle = window()->windowHandle();
    if (handle != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = handle;
        if (handle)
            handle->installEventFilter(this);
    }
    if (m_running && onScreen()) {
        if (!m_frameTimer.isActive()) {
            m_frameTimer.start();
            update(); // catch up with the time spent off screen
        }
    } else {
        m_frameTimer.stop();
    }
}

#include "moc_PreviewView.cpp"
