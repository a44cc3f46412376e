#include "app/preferencesWindowController.h"

preferencesWindowController::preferencesWindowController(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("preferencesWindowController"));
}
