// Lumen Gallery: starts the application and shows the main window.
#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/splitvc.h"

#include "Version.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(LG_APPLICATION_NAME));
    QApplication::setApplicationDisplayName(QStringLiteral(LG_DISPLAY_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LG_VERSION_STRING));
    QApplication::setDesktopFileName(QStringLiteral("lumengallery"));

    mainWindowController *window = mainWindow();
    window->setContentViewController(splitController());
    window->showWindow();
    return app.exec();
}
