// Helper process for tst_scrobble: queues listens "Song <n>" for ListenBrainz
// in a history file until it is killed, and prints "Q <n>" once each is in
// the file, unbuffered, so a line exists only for a queued listen.
//
//     queue_listens <history file> <first n>

#include "history/HistoryStore.h"
#include "history/ScrobbleQueue.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    HistoryStore store(QString::fromLocal8Bit(argv[1]));
    ScrobbleQueue queue(&store);
    if (!store.isOpen())
        return 3;
    for (long long n = std::atoll(argv[2]);; ++n) {
        ScrobbleQueue::Listen listen;
        listen.artist = QStringLiteral("Artist");
        listen.title = QStringLiteral("Song %1").arg(n);
        listen.started = QDateTime::fromSecsSinceEpoch(1'800'000'000 + n * 60, Qt::UTC);
        listen.heardMs = 60000;
        listen.station = QStringLiteral("http://127.0.0.1/r");
        queue.add(listen, {QStringLiteral("listenbrainz")});
        store.waitForWrites();
        char line[48];
        const int length = std::snprintf(line, sizeof line, "Q %lld\n", n);
        if (::write(STDOUT_FILENO, line, size_t(length)) != length)
            return 5;
    }
}
