#include "browser/thumbnailvc.h"

thumbnailvc::thumbnailvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("thumbnailvc"));
}

void thumbnailvc::copyItem_menu() {}
void thumbnailvc::refreshData() {}
void thumbnailvc::handleRightMouseDown(QMouseEvent *) {}
void thumbnailvc::resize() {}
