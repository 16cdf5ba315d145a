// Helper process for tst_crashsafety: changes the program list over and over
// and acknowledges each completed change on stdout, one line each, written
// unbuffered so that a line exists only once the change has returned.
//
//     store_writer <first index> <count>
//
// For each index i: saveData(p<i>) then "S <i>"; delData(p<i-12>) then
// "D <i-12>"; every fifth index also saveLiveData(p<i>) then "L <i>".
// A failed change prints "F ..." instead.

#include "store/CacheManager.h"
#include "store/ProgramEntry.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr qint64 kKeep = 12;

QVariantMap entry(qint64 i)
{
    return program::make(QStringLiteral("p%1").arg(i), QStringLiteral("https://img/%1.png").arg(i),
                         QStringLiteral("https://stream/%1").arg(i));
}

void ack(char what, qint64 i, bool ok)
{
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%c %lld\n", ok ? what : 'F', (long long)i);
    if (::write(STDOUT_FILENO, line, size_t(n)) != n)
        std::_Exit(3);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orbitune"));
    if (argc != 3)
        return 2;
    const qint64 first = std::atoll(argv[1]);
    const qint64 count = std::atoll(argv[2]);
    CacheManager *store = CacheManager::shareIntance();
    for (qint64 i = first; i < first + count; ++i) {
        ack('S', i, store->saveData(entry(i)));
        if (i >= kKeep)
            ack('D', i - kKeep, store->delData(entry(i - kKeep)));
        if (i % 5 == 0)
            ack('L', i, store->saveLiveData(entry(i)));
    }
    return 0;
}
