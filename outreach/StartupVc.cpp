#include "outreach/StartupVc.h"

StartupVc::StartupVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("StartupVc"));
}
