#include "platform/ui/FileChooser.h"

#include <QFileDialog>
#include <QStandardPaths>

namespace {

class DialogFileChooser final : public FileChooser {
public:
    void chooseFileToOpen(QWidget *window, const QString &title, const QStringList &filters,
                          Done done) override
    {
        QFileDialog *dialog = makeDialog(window, title, filters);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
        open(dialog, std::move(done));
    }

    void chooseFileToSave(QWidget *window, const QString &title, const QString &suggestedName,
                          const QStringList &filters, const QStringList &suffixes,
                          Done done) override
    {
        QFileDialog *dialog = makeDialog(window, title, filters);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->selectFile(suggestedName);
        if (!suffixes.isEmpty())
            dialog->setDefaultSuffix(suffixes.first());
        QObject::connect(dialog, &QFileDialog::filterSelected, dialog,
                         [dialog, filters, suffixes](const QString &filter) {
                             const qsizetype i = filters.indexOf(filter);
                             if (i >= 0 && i < suffixes.size())
                                 dialog->setDefaultSuffix(suffixes.at(i));
                         });
        open(dialog, std::move(done));
    }

private:
    static QFileDialog *makeDialog(QWidget *window, const QString &title,
                                   const QStringList &filters)
    {
        auto *dialog = new QFileDialog(window, title);
        dialog->setObjectName(QStringLiteral("fileDialog"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setNameFilters(filters);
        dialog->setDirectory(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
        return dialog;
    }

    static void open(QFileDialog *dialog, Done done)
    {
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                         [done = std::move(done)](const QString &path) {
                             if (done && !path.isEmpty())
                                 done(path);
                         });
        dialog->open();
    }
};

FileChooser *&slot()
{
    static FileChooser *chooser = nullptr;
    return chooser;
}

} // namespace

FileChooser *FileChooser::shared()
{
    static DialogFileChooser dialogs;
    return slot() ? slot() : &dialogs;
}

void FileChooser::setShared(FileChooser *chooser)
{
    slot() = chooser;
}
