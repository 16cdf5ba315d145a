// Qt's include root does not open other modules to the store.
#include <QtWidgets/QWidget>
