#include "browser/listVc.h"

listVc::listVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("listVc"));
}

void listVc::copyItem_menu() {}
void listVc::refreshData() {}
void listVc::handleRightMouseDown(QMouseEvent *) {}

