#pragma once

#include <QObject>

#include <array>

class QAction;
class QMenu;
class QWidget;

// The tray icon's menu, in named sections so that every feature adds its
// items where they belong without counting positions. Sections appear in
// the order of the enum; only Application (Quit) is set off by a separator.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    enum class Section {
        Window,      // Show / Hide
        Playback,    // Play / Pause and what acts on the sound playing
        Listening,   // sleep timer, notifications
        Stations,    // finding stations and what was heard
        Application, // starting with the desktop, then Quit
    };

    explicit TrayMenu(QWidget *parent);

    QMenu *menu() const { return m_menu; }
    // Adds at the end of `section`; an action without a parent becomes the
    // menu's. In Application the first item added (Quit) stays last.
    void addAction(Section section, QAction *action);
    void addMenu(Section section, QMenu *submenu);

private:
    QAction *firstAfter(Section section) const;

    QMenu *m_menu;
    QAction *m_separator;
    std::array<QList<QAction *>, 5> m_sections;
};
