// The store knows nothing of widgets.
#include <QWidget>
