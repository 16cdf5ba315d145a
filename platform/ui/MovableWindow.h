#pragma once

#include <QElapsedTimer>
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
    // Whether the window is active, or was until less than `graceMs` ago
    // while no other window of ours took over: clicking a panel (the tray)
    // takes the focus from the window before the click is reported.
    bool wasActiveJustNow(int graceMs) const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool m_movable = false;
    QElapsedTimer m_deactivated; // since the window last lost activation
};
