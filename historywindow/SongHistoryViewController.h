#pragma once

#include "history/HistoryStore.h"
#include "history/SongExport.h"
#include "platform/ui/ViewController.h"

#include <QList>

#include <functional>
#include <memory>

class SongTableModel;

namespace Ui {
class SongHistoryView;
}

// The Song History window: every song heard, newest first, narrowed as the
// listener types and by "Favourites only". The chosen songs can be starred,
// copied ("Artist - Title"), looked up on the web, removed (Delete) or
// exported; "Clear History…" asks first. It follows the history while it
// is open. A window of its own, so the player stays usable; Escape closes.
class SongHistoryViewController : public ViewController {
    Q_OBJECT
public:
    using SaveCheck = std::function<bool(const HistoryStore::Song &)>;
    using Save = std::function<void(const HistoryStore::Song &)>;
    // Asks where to export; empty when the listener cancelled.
    using PathChooser = std::function<QString(songexport::Format format, bool favouritesOnly)>;

    explicit SongHistoryViewController(HistoryStore *store, QObject *parent = nullptr);
    ~SongHistoryViewController() override;

    SongTableModel *model() const { return m_model; }

    // Shows the window (or brings it to the front), centred over `near`'s
    // window when given, with the search field focused.
    void showWindow(QWidget *near = nullptr);

    // "Save Song" for the chosen song: shown once a handler is set, enabled
    // where canSave says the song can be saved.
    void setSaveSongHandler(SaveCheck canSave, Save save);
    void setExportPathChooser(PathChooser choose);

    // What the window's controls ask for; each acts on the chosen rows.
    QList<HistoryStore::Song> chosenSongs() const;
    void copyChosen();
    void toggleStar();
    void deleteChosen();
    void saveChosen();
    void openWebSearch(const QString &urlTemplate);
    void clearClick();
    // Writes all songs (or the favourites) to `path`; says how it went.
    bool exportTo(const QString &path, songexport::Format format, bool favouritesOnly);
    void closeClick();

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void filterChanged();
    void buildMenus();
    void exportAsked(songexport::Format format, bool favouritesOnly);
    void rememberChoice();
    void restoreChoice();
    void setStatus(const QString &text);
    void updateControls();

    HistoryStore *m_store;
    SongTableModel *m_model;
    std::unique_ptr<Ui::SongHistoryView> m_ui;
    SaveCheck m_canSave;
    Save m_save;
    PathChooser m_choosePath;
    QList<qint64> m_chosenIds; // across a reload
    qint64 m_currentId = 0;
};
