#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Asks the user for a file, as a window-modal dialog over `window`. The call
// returns at once; `done` gets the chosen path later, and is not called when
// the user cancels. The application uses file dialogs; tests install a
// chooser that answers with paths of their own.
class FileChooser {
public:
    using Done = std::function<void(const QString &path)>;

    virtual ~FileChooser() = default;
    // `filters` in the file dialog's form, e.g. "M3U playlist (*.m3u *.m3u8)".
    virtual void chooseFileToOpen(QWidget *window, const QString &title, const QStringList &filters,
                                  Done done) = 0;
    // For each filter, `suffixes` holds the suffix a name typed without one
    // gets while that filter is chosen.
    virtual void chooseFileToSave(QWidget *window, const QString &title,
                                  const QString &suggestedName, const QStringList &filters,
                                  const QStringList &suffixes, Done done) = 0;

    static FileChooser *shared();
    // Does not take ownership. Passing nullptr restores the file dialogs.
    static void setShared(FileChooser *chooser);
};
