#include "app/homeVc.h"

homeVc::homeVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("homeVc"));
}
