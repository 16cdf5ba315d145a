// Helper process for tst_history: records songs into a history file until it
// is killed, and prints "A <n>" once the song "Song <n>" is written (the
// writer's thread has written it), unbuffered, so a line exists only for a
// kept song.
//
//     history_writer <history file> <first n>

#include "history/HistoryStore.h"

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
    if (!store.isOpen())
        return 3;
    qint64 previous = 0;
    for (long long n = std::atoll(argv[2]);; ++n) {
        store.finish(previous);
        previous = store.add(QStringLiteral("Radio"), QStringLiteral("http://127.0.0.1/r"),
                             QStringLiteral("Song %1").arg(n));
        if (!previous)
            return 4;
        store.waitForWrites();
        char line[48];
        const int length = std::snprintf(line, sizeof line, "A %lld\n", n);
        if (::write(STDOUT_FILENO, line, size_t(length)) != length)
            return 5;
    }
}
