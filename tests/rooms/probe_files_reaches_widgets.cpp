// Compiled as a source of platform/files/, which links no Qt Widgets.
#include <QtWidgets/QWidget>
