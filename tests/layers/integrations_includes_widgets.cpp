// The desktop integrations observe the session and the store: no widgets.
#include <QtWidgets/QWidget>
