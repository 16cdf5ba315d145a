#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>

class QMenu;
class QSystemTrayIcon;

// The application's icon in the panel's system tray. A left click runs the
// action; the context menu is the caller's. If no tray host is running yet,
// the icon appears when one arrives.
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

private:
    QSystemTrayIcon *m_tray;
    QString m_toolTip;
    std::function<void()> m_action;
};
