#include "sidebar/sideMenuvc.h"

sideMenuvc::sideMenuvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sideMenuvc"));
}

void sideMenuvc::addFoldersWithProgress(const std::optional<QList<QUrl>> &) {}
void sideMenuvc::alertforStopAddingFolder() {}
void sideMenuvc::revealFolderOfFile(const QStringList &) {}
QStringList sideMenuvc::rootFolderPaths() const { return {}; }
