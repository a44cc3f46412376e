// Compiled as a source of model/, which links no Qt Widgets.
#include <QtWidgets/QWidget>
