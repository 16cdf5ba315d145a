#pragma once

#include "platform/ui/ViewController.h"

#include <QString>

#include <memory>

class QLineEdit;

namespace Ui {
class AddView;
}

// The add-program form: name, image URL and play URL. Saving checks that
// none is empty (in that order), appends the program to the store's list and
// closes the form.
class AddViewController : public ViewController {
    Q_OBJECT
public:
    explicit AddViewController(QObject *parent = nullptr);
    ~AddViewController() override;

    QLineEdit *nameTF() const;
    QLineEdit *imageTF() const;
    QLineEdit *urlTF() const;

    void saveClick(QObject *sender = nullptr);
    void closeClick(QObject *sender = nullptr);
    // A one-button alert on the form; `kind` is the alert style
    // (0 warning, 1 informational, 2 critical).
    void showAlertOfKind(unsigned long kind, const QString &title, const QString &message);

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    std::unique_ptr<Ui::AddView> m_ui;
};
