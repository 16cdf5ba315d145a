// Scrobbling is worked out without widgets; its dialog finds it.
#include <QtWidgets/QDialog>
