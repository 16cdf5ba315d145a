// Renders the Song History window to song-history.png for the user's
// guide, over a history of a few songs kept in the history file of
// XDG_DATA_HOME. Run it with a private XDG_DATA_HOME on a display (Xvfb is
// fine):
//   render_song_history OUTPUT_DIR
#include "history/HistoryStore.h"
#include "history/SongTableModel.h"
#include "historywindow/SongHistoryViewController.h"
#include "platform/base/Clock.h"
#include "platform/base/Resources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>

namespace {
// Songs a few minutes apart, ending now.
class SteppedClock : public Clock {
public:
    QDateTime currentDateTimeUtc() const override { return now; }
    QDateTime now = QDateTime::currentDateTimeUtc().addSecs(-9 * 210);
};
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orbitune"));
    orbitune::initResources();
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");

    QFile::remove(HistoryStore::defaultPath());
    SteppedClock clock;
    Clock::setShared(&clock);
    HistoryStore store;
    const struct {
        const char *program, *title;
        bool starred;
    } heard[] = {
        {"Radio Swiss Jazz", "Ella Fitzgerald - Summertime", false},
        {"Radio Swiss Jazz", "Miles Davis - So What", true},
        {"Radio Swiss Jazz", "Station ID", false},
        {"FIP", "Khruangbin - Maria También", false},
        {"FIP", "Nina Simone - Feeling Good", true},
        {"FIP", "Кино - Группа крови", false},
        {"SomaFM Groove Salad", "Bonobo - Kerala", false},
        {"SomaFM Groove Salad", "Tycho - Awake", true},
        {"SomaFM Groove Salad", "Boards of Canada - Dayvan Cowboy", false},
    };
    for (const auto &song : heard) {
        const qint64 id = store.add(QString::fromUtf8(song.program), QStringLiteral("http://r/"),
                                    QString::fromUtf8(song.title));
        store.setFavourite(id, song.starred);
        clock.now = clock.now.addSecs(210);
    }
    SongHistoryViewController window(&store);
    window.setSaveSongHandler([](const HistoryStore::Song &) { return false; },
                              [](const HistoryStore::Song &) {});
    window.showWindow();
    window.view()->findChild<QTableView *>(QStringLiteral("songTable"))->selectRow(1);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const bool saved = window.view()->grab().save(outDir + QStringLiteral("/song-history.png"));
    Clock::setShared(nullptr);
    return saved ? 0 : 1;
}
