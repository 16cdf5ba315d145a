#include "platform/ui/Alert.h"

#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {

QMessageBox::Icon iconForStyle(int style)
{
    switch (style) {
    case Alert::InformationalStyle: return QMessageBox::Information;
    case Alert::CriticalStyle: return QMessageBox::Critical;
    default: return QMessageBox::Warning;
    }
}

class MessageBoxAlertPresenter final : public AlertPresenter {
public:
    void present(const Alert &alert, QWidget *window, std::function<void(long)> completion) override
    {
        auto *box = new QMessageBox(window);
        box->setObjectName(QStringLiteral("alert"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->setTextFormat(Qt::PlainText);
        box->setIcon(iconForStyle(alert.alertStyle));
        box->setText(alert.messageText);
        box->setInformativeText(alert.informativeText);
        // QMessageBox applies the text format to the main text only; the
        // informative text may carry a file's name, shown as it is.
        if (auto *informative =
                box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
            informative->setTextFormat(Qt::PlainText);
        box->setProperty("alertStyle", alert.alertStyle);
        QStringList titles = alert.buttons;
        if (titles.isEmpty())
            titles << QStringLiteral("OK");
        QList<QPushButton *> buttons;
        for (int i = 0; i < titles.size(); ++i) {
            QPushButton *b = box->addButton(titles.at(i), QMessageBox::ActionRole);
            b->setObjectName(QStringLiteral("alertButton%1").arg(i));
            b->setAccessibleName(titles.at(i));
            buttons << b;
        }
        box->setDefaultButton(buttons.first());
        box->setEscapeButton(buttons.size() > 1 ? buttons.last() : buttons.first());
        // Widen the sheet to the window it belongs to: its frame exactly as
        // wide as the window's. QMessageBox sizes itself to its contents,
        // margins included, so a spacer row carries the window's width less
        // those margins. Both windows get the same decoration, so matching
        // the inner widths matches the frames.
        if (window && window->window()) {
            if (auto *grid = qobject_cast<QGridLayout *>(box->layout())) {
                const QMargins margins = grid->contentsMargins();
                const int width = window->window()->width() - margins.left() - margins.right();
                grid->addItem(new QSpacerItem(std::max(width, 0), 0, QSizePolicy::Minimum,
                                              QSizePolicy::Fixed),
                              grid->rowCount(), 0, 1, grid->columnCount());
            }
        }
        QObject::connect(box, &QMessageBox::buttonClicked, box,
                         [buttons, completion](QAbstractButton *clicked) {
                             const long index = buttons.indexOf(clicked);
                             if (completion && index >= 0)
                                 completion(Alert::FirstButtonReturn + index);
                         });
        box->open();
    }
};

MessageBoxAlertPresenter &defaultPresenter()
{
    static MessageBoxAlertPresenter presenter;
    return presenter;
}

AlertPresenter *g_presenter = nullptr;

} // namespace

AlertPresenter *AlertPresenter::shared()
{
    return g_presenter ? g_presenter : &defaultPresenter();
}

void AlertPresenter::setShared(AlertPresenter *presenter)
{
    g_presenter = presenter;
}

void Alert::beginSheetModalForWindow(QWidget *window, std::function<void(long)> completion) const
{
    AlertPresenter::shared()->present(*this, window, std::move(completion));
}
