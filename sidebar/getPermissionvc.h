#pragma once
// The home-folder access sheet: the home folder's icon and buttons that open
// a folder panel in which only the home folder itself may be chosen ("Grant
// Access"), and a cancel button. The choice is only printed; nothing is
// stored. No screen presents it in this version: the sidebar's request for it
// (ShowGetPermissionvc) does nothing. Main thread.
#include <QDialog>

class QLabel;
class QPushButton;
class QUrl;

// Set once the sheet's view has loaded in this run.
extern bool accessSheetLoaded;

class getPermissionvc : public QDialog
{
    Q_OBJECT
public:
    explicit getPermissionvc(QWidget *parent = nullptr);

    QLabel *imgview = nullptr;
    QPushButton *bigbtn = nullptr;
    QPushButton *btnbottum = nullptr;
    QPushButton *btnCancelButton = nullptr;

    void viewDidLoad();
    // Both grant buttons: the folder panel.
    void bigbtn_getPermission();
    void btnbottum_getPermission() { bigbtn_getPermission(); }
    void btnCancel();
    // Only the home folder itself can be chosen.
    static bool panel_shouldEnableURL(const QUrl &url);

private:
    void dismissViewController();
};
