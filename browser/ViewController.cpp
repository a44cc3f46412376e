#include "browser/ViewController.h"

#include "platform/Timer.h"

ViewController::ViewController(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ViewController"));
    timerResize = new lg::Timer(this);
    timerResize->setSingleShot(true);
}

void ViewController::pasteItems() {}
void ViewController::toggleInfoPane() {}
void ViewController::viewFullimage() {}
void ViewController::showListView() {}
void ViewController::showThumbnailView() {}
void ViewController::fillInfoPane() {}
