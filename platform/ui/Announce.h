#pragma once

#include <QString>

class QWidget;

// What assistive technology hears of the windows' changing content.
//
// A label that shows content carries no fixed accessible name: such a name
// would replace its text for a screen reader. Without one, the label's text
// is its accessible name, and Qt tells assistive technology of every change
// of that text (a name-change event from QLabel::setText), so a screen reader
// following the window speaks it.
namespace announce {

// Gives `widget` the accessible name `name`. Assistive technology is told
// only when the name really changes, so refilling a view with the same
// content stays silent.
void setName(QWidget *widget, const QString &name);
// The same for the accessible description.
void setDescription(QWidget *widget, const QString &description);

// The accessible name of a picture of `subject`, e.g. "Jazz FM picture";
// `fallback` when the subject has no name.
QString pictureName(const QString &subject, const QString &fallback);

} // namespace announce
