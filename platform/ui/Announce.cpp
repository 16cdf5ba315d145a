#include "platform/ui/Announce.h"

#include <QWidget>

namespace announce {

void setName(QWidget *widget, const QString &name)
{
    // QWidget::setAccessibleName sends the name-change event itself, even
    // when the name stays the same.
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

void setDescription(QWidget *widget, const QString &description)
{
    if (widget->accessibleDescription() != description)
        widget->setAccessibleDescription(description);
}

QString pictureName(const QString &subject, const QString &fallback)
{
    const QString trimmed = subject.trimmed();
    return trimmed.isEmpty() ? fallback : QStringLiteral("%1 picture").arg(trimmed);
}

} // namespace announce
