// The playback session is the model: no widgets.
#include <QtWidgets/QWidget>
