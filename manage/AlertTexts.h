#pragma once

#include <QString>

// The heading every alert of the list window and the add form carries.
inline const QString kAlertTip = QStringLiteral("Tip：");
