#include "viewer/editImagevc.h"

editImagevc::editImagevc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("editImagevc"));
}

void editImagevc::loadImage() {}
