#include "outreach/utilityKitvc.h"

utilityKitvc::utilityKitvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("utilityKitvc"));
}
