#include "platform/ui/PreviewView.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

PreviewView::PreviewView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_frameTimer.setInterval(kFrameIntervalMs);
    m_frameTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
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
    if (m_running) {
        m_clock.start();
        if (isVisible())
            m_frameTimer.start();
    }
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
    const QSize px = (QSizeF(size()) * dpr).toSize();
    if (px.isEmpty()) {
        m_clipped = QPixmap();
        return;
    }
    QPixmap pm(px);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
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
    m_clipped = pm;
}

void PreviewView::paintEvent(QPaintEvent *)
{
    ++m_frames;
    if (m_clipped.isNull())
        return;
    QPainter p(this);
    const double angle = rotation();
    if (angle == 0) {
        p.drawPixmap(0, 0, m_clipped);
        return;
    }
    p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QPointF centre = QRectF(rect()).center();
    p.translate(centre);
    // Screen y grows downwards, so a counter-clockwise turn is a negative
    // angle for QPainter.
    p.rotate(-angle * 180.0 / M_PI);
    p.translate(-centre);
    p.drawPixmap(0, 0, m_clipped);
}

void PreviewView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    rebuildPixmap();
}

void PreviewView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_running)
        m_frameTimer.start();
}

void PreviewView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_frameTimer.stop();
}
