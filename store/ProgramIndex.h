#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QFileSystemWatcher;
class QTimer;

// The program list as the desktop sees it: every program (list items that
// are dictionaries, in the list's order) with a key that stays the same for
// as long as the program is in the list, so media controls and the desktop's
// search can name it between calls.
namespace programindex {

struct Program {
    QString key;      // letters, digits and '_' only: usable in a D-Bus object path
    int position = 0; // in the list, counting programs only
    QVariantMap entry;
};

// The programs of the list, in order. The key is made from the stream URL,
// so renaming a program or moving it keeps its key; a second program with
// the same URL gets "_2" appended, a third "_3", and so on.
QList<Program> programs();
QList<Program> programs(const QVariantList &list);
// A list may hold the same entry twice, and the stored current program does
// not say which of them was chosen. Whoever makes a listed program the
// current one says which with chosen(); that place stands for the current
// program for as long as it still holds an entry equal to it.
void chosen(const Program &program);
// Where `current` stands in `list`: the place last chosen, while it holds an
// entry equal to `current` and `current` is the entry chosen there;
// otherwise the first equal entry. -1 when it is not in the list.
int positionOf(const QVariantMap &current, const QList<Program> &list);
// The key of the program `entry` is in `list` (see positionOf()), or empty
// when it is not in it.
QString keyOf(const QVariantMap &entry, const QList<Program> &list);

// The programs whose name or group contains every term (case and accents
// ignored), best first: names starting with the first term, then those with a word
// starting with it, then the rest, each in list order.
QList<Program> matching(const QStringList &terms, const QList<Program> &list);

// The program `step` places after (or before, when negative) the one
// `current` is in `list` (see positionOf()) among the programs of its group
// (or of no group), wrapping around; the first (or last) of the list when
// `current` is not in it. An empty key when the list holds
// no program.
Program neighbour(const QVariantMap &current, int step, const QList<Program> &list);

} // namespace programindex

// Says when the data file may have changed: any write, by this process or
// another (the file is replaced by a rename, so its folder is watched too).
// Changes arriving together are reported once.
class ProgramListWatcher : public QObject {
    Q_OBJECT
public:
    explicit ProgramListWatcher(QObject *parent = nullptr);

Q_SIGNALS:
    void changed();

private:
    void rewatch();

    QFileSystemWatcher *m_watcher;
    QTimer *m_settle;
    QString m_path;
};
