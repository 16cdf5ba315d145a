#pragma once

// What the fuzz targets share: a broken promise as a crash that libFuzzer
// keeps, and the input cut into the pieces a socket might hand over.

#include <QByteArray>
#include <QList>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char *what)
{
    if (!holds)
        fail(what);
}

// `bytes` in pieces of 1 to 4 * `seed` bytes, their lengths drawn from a
// generator seeded with `seed`; seed 0: one piece.
inline QList<QByteArray> pieces(const QByteArray &bytes, unsigned seed)
{
    if (seed == 0)
        return {bytes};
    QList<QByteArray> out;
    unsigned state = seed;
    for (qsizetype at = 0; at < bytes.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype n = qMin<qsizetype>(1 + (state >> 16) % (4 * seed), bytes.size() - at);
        out.append(bytes.mid(at, n));
        at += n;
    }
    return out;
}

} // namespace fuzz
