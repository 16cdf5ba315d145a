#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;

// The heading row of a group in the program list (the reusable view
// "groupHeaderView"): the group's name on a button that folds and unfolds
// it, and how many programs it holds. Like ListCell it knows nothing of
// programs: its controller fills it and hears the button through a callback.
class GroupHeader : public QWidget {
    Q_OBJECT
public:
    explicit GroupHeader(QWidget *parent = nullptr);

    QToolButton *foldBtn() const { return m_fold; }
    QLabel *countTF() const { return m_count; }

    // Shows `group` with `count` programs, unfolded (`open`) or folded.
    void fill(const QString &group, qsizetype count, bool open);

    void setFoldBlock(std::function<void()> block) { m_foldBlock = std::move(block); }

private:
    QToolButton *m_fold;
    QLabel *m_count;
    std::function<void()> m_foldBlock;
};
