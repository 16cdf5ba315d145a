#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

// An alert shown as a window-modal sheet on a window. beginSheetModalForWindow
// returns at once; the completion gets the answer later: 1000 for the first
// button, 1001 for the second, and so on.
class Alert {
public:
    enum Style { WarningStyle = 0, InformationalStyle = 1, CriticalStyle = 2 };
    enum Response { FirstButtonReturn = 1000, SecondButtonReturn = 1001, ThirdButtonReturn = 1002 };

    QString messageText;
    QString informativeText;
    int alertStyle = WarningStyle;
    QStringList buttons;

    void addButtonWithTitle(const QString &title) { buttons << title; }
    void setMessageText(const QString &text) { messageText = text; }
    void setInformativeText(const QString &text) { informativeText = text; }
    void setAlertStyle(int style) { alertStyle = style; }

    void beginSheetModalForWindow(QWidget *window,
                                  std::function<void(long response)> completion = {}) const;
};

// Shows alerts. The application uses the message-box presenter; tests install
// one that records alerts and answers them.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual void present(const Alert &alert, QWidget *window,
                         std::function<void(long response)> completion) = 0;

    static AlertPresenter *shared();
    // Does not take ownership. Passing nullptr restores the message-box presenter.
    static void setShared(AlertPresenter *presenter);
};
