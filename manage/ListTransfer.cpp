#include "manage/ListTransfer.h"

#include "manage/AlertTexts.h"
#include "platform/ui/Alert.h"
#include "platform/ui/FileChooser.h"
#include "store/CacheManager.h"
#include "store/ProgramExport.h"
#include "store/ProgramImport.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QWidget>

ListTransfer::ListTransfer(QWidget *view, QObject *parent) : QObject(parent), m_view(view) {}

void ListTransfer::chooseImport()
{
    if (!m_view)
        return;
    QPointer<ListTransfer> self(this);
    FileChooser::shared()->chooseFileToOpen(
        m_view->window(), QStringLiteral("Import Stations"),
        {QStringLiteral("Station lists (*.m3u *.m3u8 *.pls *.xspf *.xml *.json)"),
         QStringLiteral("All files (*)")},
        [self](const QString &path) {
            if (self)
                self->importFile(path);
        });
}

void ListTransfer::fillImportFrom(QMenu *menu)
{
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

void ListTransfer::importFile(const QString &path)
{
    const programimport::FileResult file = programimport::readFile(path);
    if (file.error != programimport::ReadError::None || file.parsed.entries.isEmpty()) {
        showNotice(programimport::failure(file), Alert::WarningStyle);
        return;
    }
    const programimport::Outcome outcome = programimport::importInto(file.parsed);
    Q_EMIT imported();
    showNotice(programimport::summary(file, outcome),
               outcome.saved ? Alert::InformationalStyle : Alert::CriticalStyle);
}

void ListTransfer::chooseExport()
{
    if (!m_view)
        return;
    QPointer<ListTransfer> self(this);
    FileChooser::shared()->chooseFileToSave(
        m_view->window(), QStringLiteral("Export Stations"), QStringLiteral("Orbitune.m3u"),
        {QStringLiteral("M3U playlist (*.m3u *.m3u8)"), QStringLiteral("XSPF playlist (*.xspf)")},
        {QStringLiteral("m3u"), QStringLiteral("xspf")}, [self](const QString &path) {
            if (self)
                self->exportFile(path);
        });
}

void ListTransfer::exportFile(const QString &path)
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

void ListTransfer::showNotice(const QString &message, int style)
{
    if (!m_view)
        return;
    Alert alert;
    alert.setMessageText(kAlertTip);
    alert.setInformativeText(message);
    alert.setAlertStyle(style);
    alert.addButtonWithTitle(QStringLiteral("OK"));
    alert.beginSheetModalForWindow(m_view->window());
}
