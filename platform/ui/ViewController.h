#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// A controller that owns one view. The view is built on first use of view()
// (loadView), then viewDidLoad runs once. A controller can present another
// controller's view as a window-modal window over its own window, centred on
// it; the presented controller closes itself with dismissController().
class ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(QObject *parent = nullptr);
    ~ViewController() override;

    QWidget *view();
    bool isViewLoaded() const { return !m_view.isNull(); }

    // Shows `child`'s view as a window-modal window over this controller's
    // window and takes ownership of `child`; it is deleted after it is
    // dismissed.
    void presentViewControllerAsSheet(ViewController *child);
    // Closes this controller's window when it was presented; `sender` is
    // not read.
    void dismissController(QObject *sender = nullptr);

    ViewController *presentingViewController() const { return m_presenting; }
    // Paints a view's background in one colour.
    static void setBackgroundColor(QWidget *view, const QColor &color);
    ViewController *presentedViewController() const { return m_presented; }

Q_SIGNALS:
    void dismissed();

protected:
    virtual QWidget *loadView() = 0;
    virtual void viewDidLoad() {}

private:
    QPointer<QWidget> m_view;
    QPointer<ViewController> m_presenting;
    QPointer<ViewController> m_presented;
};
