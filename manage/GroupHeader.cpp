#include "manage/GroupHeader.h"

#include "platform/ui/Announce.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

GroupHeader::GroupHeader(QWidget *parent)
    : QWidget(parent), m_fold(new QToolButton(this)), m_count(new QLabel(this))
{
    setObjectName(QStringLiteral("groupHeader"));
    m_fold->setObjectName(QStringLiteral("foldBtn"));
    m_count->setObjectName(QStringLiteral("groupCountTF"));
    m_fold->setCheckable(true);
    m_fold->setAutoRaise(true);
    m_fold->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // The list takes the keys; Return on the heading row folds it.
    m_fold->setFocusPolicy(Qt::NoFocus);
    QFont bold = m_fold->font();
    bold.setBold(true);
    m_fold->setFont(bold);
    m_count->setTextFormat(Qt::PlainText);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->addWidget(m_fold);
    layout->addWidget(m_count, 1);
    // Toggled, not clicked: a screen reader's toggle action toggles the
    // button without clicking it.
    connect(m_fold, &QToolButton::toggled, this, [this] {
        // A copy: folding refills the list, and with it this row's callback.
        const auto block = m_foldBlock;
        if (block)
            block();
    });
}

void GroupHeader::fill(const QString &group, qsizetype count, bool open)
{
    // The text is the group's name: no markup, no shortcut letters.
    QString text = group;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    m_fold->setText((open ? QStringLiteral("▾ ") : QStringLiteral("▸ ")) + text);
    {
        const QSignalBlocker quiet(m_fold);
        m_fold->setChecked(open);
    }
    m_count->setText(count == 1 ? QStringLiteral("1 program")
                                : QStringLiteral("%1 programs").arg(count));
    const QString state = open ? QStringLiteral("shown") : QStringLiteral("folded");
    announce::setName(this, QStringLiteral("%1 group").arg(group));
    announce::setDescription(this, QStringLiteral("%1, %2").arg(m_count->text(), state));
    announce::setName(m_fold, QStringLiteral("%1 group").arg(group));
    announce::setDescription(m_fold, open ? QStringLiteral("Shown; press to fold the group")
                                          : QStringLiteral("Folded; press to show the group"));
}
