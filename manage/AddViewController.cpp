#include "manage/AddViewController.h"
#include "manage/AlertTexts.h"

#include "platform/ui/Alert.h"
#include "store/CacheManager.h"
#include "store/ProgramEntry.h"
#include "ui_AddView.h"

#include <QLineEdit>
#include <QPushButton>

namespace {
} // namespace

AddViewController::AddViewController(QObject *parent) : ViewController(parent) {}

AddViewController::~AddViewController()
{
    // A presented form belongs to the window it was shown over; it goes with
    // this controller.
    if (isViewLoaded())
        delete view();
}

QLineEdit *AddViewController::nameTF() const
{
    return m_ui ? m_ui->nameTF : nullptr;
}
QLineEdit *AddViewController::imageTF() const
{
    return m_ui ? m_ui->imageTF : nullptr;
}
QLineEdit *AddViewController::urlTF() const
{
    return m_ui ? m_ui->urlTF : nullptr;
}

QWidget *AddViewController::loadView()
{
    auto *root = new QWidget;
    m_ui = std::make_unique<Ui::AddView>();
    m_ui->setupUi(root);
    connect(m_ui->saveBtn, &QPushButton::clicked, this, [this] { saveClick(m_ui->saveBtn); });
    connect(m_ui->closeBtn, &QPushButton::clicked, this, [this] { closeClick(m_ui->closeBtn); });
    // Return in any field saves.
    for (QLineEdit *field : {m_ui->nameTF, m_ui->imageTF, m_ui->urlTF})
        connect(field, &QLineEdit::returnPressed, this, [this, field] { saveClick(field); });
    return root;
}

void AddViewController::viewDidLoad()
{
    ViewController::viewDidLoad();
    QWidget *root = view();
    setBackgroundColor(root, Qt::white);
    m_ui->nameTF->setFocus();
}

void AddViewController::saveClick(QObject *sender)
{
    const QString name = m_ui->nameTF->text();
    const QString image = m_ui->imageTF->text();
    const QString url = m_ui->urlTF->text();
    if (name.isEmpty()) {
        showAlertOfKind(Alert::WarningStyle, kAlertTip, QStringLiteral("Name cannot be empty！"));
        return;
    }
    if (image.isEmpty()) {
        showAlertOfKind(Alert::InformationalStyle, kAlertTip,
                        QStringLiteral("Image url cannot be empty！"));
        return;
    }
    if (url.isEmpty()) {
        showAlertOfKind(Alert::CriticalStyle, kAlertTip,
                        QStringLiteral("Play url cannot be empty！"));
        return;
    }
    if (!CacheManager::shareIntance()->saveData(program::make(name, image, url))) {
        // Closing now would throw away what was typed for nothing.
        showAlertOfKind(Alert::CriticalStyle, kAlertTip,
                        QStringLiteral("The program could not be saved. Please try again."));
        return;
    }
    dismissController(sender);
}

void AddViewController::closeClick(QObject *sender)
{
    dismissController(sender);
}

void AddViewController::showAlertOfKind(unsigned long kind, const QString &title,
                                        const QString &message)
{
    Alert alert;
    alert.addButtonWithTitle(QStringLiteral("I know"));
    alert.setMessageText(title);
    alert.setInformativeText(message);
    alert.setAlertStyle(int(kind));
    // The presenter widens the sheet to the window it is shown on.
    alert.beginSheetModalForWindow(view()->window());
}

#include "moc_AddViewController.cpp"
