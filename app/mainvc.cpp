#include "app/mainvc.h"

mainvc::mainvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("mainvc"));
}
