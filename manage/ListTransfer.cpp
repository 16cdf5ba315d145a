// The list window's import and export: the window asks for the file and
// tells the outcome; reading, merging and writing are the store's.
#include "manage/AlertTexts.h"
#include "manage/ListViewController.h"
#include "platform/ui/Alert.h"
#include "platform/ui/FileChooser.h"
#include "store/CacheManager.h"
#include "store/ProgramExport.h"
#include "store/ProgramImport.h"
#include "ui_ListView.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>

void ListViewController::importClick(QObject *)
{
    QPointer<ListViewController> self(this);
    FileChooser::shared()->chooseFileToOpen(
        view()->window(), QStringLiteral("Import Stations"),
        {QStringLiteral("Station lists (*.m3u *.m3u8 *.pls *.xspf *.xml *.json)"),
         QStringLiteral("All files (*)")},
        [self](const QString &path) {
            if (self)
                self->importFile(path);
        });
}

void ListViewController::fillImportFromMenu()
{
    QMenu *menu = m_ui->importFromBtn->menu();
    menu->clear();
    const QList<programimport::Source> sources = programimport::knownSources();
    if (sources.isEmpty()) {
        menu->addAction(QStringLiteral("No station list of Goodvibes or Radiotray-NG found"))
            ->setEnabled(false);
        return;
    }
    for (const programimport::Source &source : sources) {
        QAction *action = menu->addAction(
            QStringLiteral("%1 (%2)").arg(source.player, QDir::toNativeSeparators(source.path)));
        const QString path = source.path;
        connect(action, &QAction::triggered, this, [this, path] { importFile(path); });
    }
}

void ListViewController::importFile(const QString &path)
{
    const programimport::FileResult file = programimport::readFile(path);
    if (file.error != programimport::ReadError::None || file.parsed.entries.isEmpty()) {
        showNotice(programimport::failure(file), Alert::WarningStyle);
        return;
    }
    const programimport::Outcome outcome = programimport::importInto(file.parsed);
    loadData();
    showNotice(programimport::summary(file, outcome),
               outcome.saved ? Alert::InformationalStyle : Alert::CriticalStyle);
}

void ListViewController::exportClick(QObject *)
{
    QPointer<ListViewController> self(this);
    FileChooser::shared()->chooseFileToSave(
        view()->window(), QStringLiteral("Export Stations"), QStringLiteral("Orbitune.m3u"),
        {QStringLiteral("M3U playlist (*.m3u *.m3u8)"), QStringLiteral("XSPF playlist (*.xspf)")},
        {QStringLiteral("m3u"), QStringLiteral("xspf")}, [self](const QString &path) {
            if (self)
                self->exportFile(path);
        });
}

void ListViewController::exportFile(const QString &path)
{
    const QVariantList list = CacheManager::shareIntance()->getData();
    QString error;
    if (!programexport::writeFile(path, list, &error)) {
        showNotice(QStringLiteral("The list could not be exported (%1).").arg(error),
                   Alert::CriticalStyle);
        return;
    }
    showNotice(QStringLiteral("Exported the list to %1.").arg(QFileInfo(path).fileName()),
               Alert::InformationalStyle);
}

void ListViewController::showNotice(const QString &message, int style)
{
    Alert alert;
    alert.setMessageText(kAlertTip);
    alert.setInformativeText(message);
    alert.setAlertStyle(style);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.beginSheetModalForWindow(view()->window());
}
