#pragma once

#include "find/DirectoryClient.h"
#include "platform/ui/ViewController.h"

#include <QTimer>

#include <memory>

class StationModel;

namespace Ui {
class FindView;
}

// The Find Stations window: searches the directory as the user types (and
// by country, language and tag), lists what it finds, most listened first,
// 100 at a time, and plays or adds the chosen station in one step.
//
// Playing makes the station the current program and posts "LIVE_PLAY", as
// choosing a program in the list does, and tells the directory about the
// click. Adding appends it to the program list unless a program with the
// same stream is there already. The window stays open for the next search;
// Escape closes it.
class FindViewController : public ViewController {
    Q_OBJECT
public:
    static constexpr int kDebounceMs = 300;
    static constexpr int kPageSize = 100;

    explicit FindViewController(QObject *parent = nullptr);
    ~FindViewController() override;

    DirectoryClient *client() const { return m_client; }
    StationModel *model() const { return m_model; }

    // Shows the window (or brings it to the front), centred over `near`'s
    // window when given. The first time, it lists the most listened
    // stations.
    void showWindow(QWidget *near = nullptr);

    // What the window's controls ask for.
    void searchNow();
    void loadMore();
    void playRow(int row);
    void addRow(int row);
    void closeClick();

Q_SIGNALS:
    // A station was added to the program list.
    void stationAdded();

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    StationQuery typedQuery() const;
    int chosenRow() const;
    void searchFinished(const StationQuery &query, const QList<Station> &stations, int skipped);
    void searchFailed(const StationQuery &query, const QString &message);
    void setStatus(const QString &text);
    void updateControls();

    std::unique_ptr<Ui::FindView> m_ui;
    DirectoryClient *m_client;
    StationModel *m_model;
    QTimer m_debounce;
    StationQuery m_shown;
    int m_nextOffset = 0;
    bool m_hasMore = false;
    bool m_searched = false;
};
