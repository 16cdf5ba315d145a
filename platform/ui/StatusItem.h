#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

class QMenu;
class QSystemTrayIcon;

// The application's icon in the panel's system tray. A left click runs the
// action; the context menu is the caller's. If no tray host is running yet,
// the icon appears when one arrives. Scrolling on the icon is reported where
// the tray delivers it: Qt passes wheel events on for the XEmbed tray, but not
// a StatusNotifierItem host's Scroll calls.
class StatusItem : public QObject {
    Q_OBJECT
public:
    explicit StatusItem(QObject *parent = nullptr);
    ~StatusItem() override;

    void setImage(const QIcon &icon);
    QIcon image() const;
    void setToolTip(const QString &toolTip);
    QString toolTip() const { return m_toolTip; }
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    void setMenu(QMenu *menu);

    // Runs the action, as a left click does.
    void performClick();

    static bool isTrayAvailable();

Q_SIGNALS:
    // Whole wheel notches, positive away from the user.
    void scrolled(int steps);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QSystemTrayIcon *m_tray;
    QString m_toolTip;
    std::function<void()> m_action;
    int m_wheelRest = 0; // eighths of a degree not yet a whole notch
};
