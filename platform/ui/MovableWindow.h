#pragma once

#include <QWidget>

// A top-level window that can be dragged by any part of its background (and
// of children that don't take the mouse themselves), through the window
// system so it works on Wayland as on X11. It has no maximise button.
class MovableWindow : public QWidget {
    Q_OBJECT
public:
    explicit MovableWindow(QWidget *parent = nullptr);

    void setMovableByWindowBackground(bool movable) { m_movable = movable; }
    bool isMovableByWindowBackground() const { return m_movable; }
    void hideZoomButton();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    bool m_movable = false;
};
