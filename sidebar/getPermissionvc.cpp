#include "sidebar/getPermissionvc.h"

#include "platform/files/names/FileNames.h"

#include "app/mainvc.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/SidebarTreeModel.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

bool accessSheetLoaded = false;

getPermissionvc::getPermissionvc(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("getPermissionvc"));
    setWindowTitle(QStringLiteral("Grant Access"));
    setWindowModality(Qt::WindowModal);
    auto *column = new QVBoxLayout(this);
    imgview = new QLabel(this);
    imgview->setAlignment(Qt::AlignCenter);
    bigbtn = new QPushButton(QStringLiteral("Grant Access"), this);
    bigbtn->setObjectName(QStringLiteral("bigbtn"));
    btnbottum = new QPushButton(QStringLiteral("Grant Access to Home Folder"), this);
    btnbottum->setObjectName(QStringLiteral("btnbottum"));
    btnCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancelButton->setObjectName(QStringLiteral("btnCancel"));
    column->addWidget(imgview);
    column->addWidget(bigbtn);
    column->addWidget(btnbottum);
    column->addWidget(btnCancelButton);
    connect(bigbtn, &QPushButton::clicked, this, &getPermissionvc::bigbtn_getPermission);
    connect(btnbottum, &QPushButton::clicked, this, &getPermissionvc::btnbottum_getPermission);
    connect(btnCancelButton, &QPushButton::clicked, this, &getPermissionvc::btnCancel);
    viewDidLoad();
}

void getPermissionvc::viewDidLoad()
{
    accessSheetLoaded = true;
    imgview->setPixmap(SidebarTreeModel::folderIcon().pixmap(64, 64));
}

bool getPermissionvc::panel_shouldEnableURL(const QUrl &url)
{
    return url.isLocalFile() && lg::LexicalPaths::clean(lg::FileNames::pathOf(url)) == lg::LexicalPaths::clean(lg::Paths::home());
}

void getPermissionvc::bigbtn_getPermission()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = false;
    spec.chooseDirectories = true;
    spec.allowsMultipleSelection = false;
    spec.showsHiddenFiles = false;
    spec.directory = lg::Paths::home();
    spec.prompt = QStringLiteral("Grant Access");
    QPointer<getPermissionvc> self(this);
    lg::Panels::open(this, spec, [self](const QList<QUrl> &urls) {
        // Anything but the home folder itself leaves the sheet up.
        if (!self || urls.size() != 1 || !panel_shouldEnableURL(urls.first()))
            return;
        sidebarsheets::printLine(urls.first().toString());
        self->dismissViewController();
    });
}

void getPermissionvc::btnCancel()
{
    dismissViewController();
}

void getPermissionvc::dismissViewController()
{
    close();
    sidebarsheets::hideOverlay();
}
