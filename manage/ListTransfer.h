#pragma once

#include <QObject>
#include <QPointer>

class QMenu;
class QWidget;

// The list window's import and export: asks for the file and tells the
// outcome in a sheet over the window; reading, merging and writing are the
// store's.
class ListTransfer : public QObject {
    Q_OBJECT
public:
    // `view` is the window's content; sheets go over its window.
    explicit ListTransfer(QWidget *view, QObject *parent = nullptr);

    // Ask for a file, then import or export it.
    void chooseImport();
    void chooseExport();
    // The other players' station lists found here, each importing its file.
    void fillImportFrom(QMenu *menu);
    void importFile(const QString &path);
    void exportFile(const QString &path);

Q_SIGNALS:
    // Programs were imported into the store.
    void imported();

private:
    void showNotice(const QString &message, int style);

    QPointer<QWidget> m_view;
};
