#include "collage/collagevc.h"

collagevc::collagevc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("collagevc"));
}

void collagevc::viewDidResize() {}
void collagevc::removeall() {}
