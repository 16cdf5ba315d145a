// What the history window shows is worked out without widgets.
#include <QtWidgets/QTableView>
