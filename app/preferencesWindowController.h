#pragma once
// The preferences window: a settings tab (launch at login, automatic updates, a
// check for updates now) and the about tab.
#include <QString>
#include <QTabWidget>
#include <QUrl>
#include <QWidget>
#include <optional>

class QCheckBox;
class QPushButton;
class aboutVc;
namespace lg { class Updater; }

// The application's short version, or nothing when it has none.
std::optional<QString> shortVersionString();

class settingsVc : public QWidget
{
    Q_OBJECT
public:
    explicit settingsVc(QWidget *parent = nullptr);

    // The application's updater (looked up when it is needed).
    lg::Updater *updater() const;
    QCheckBox *checkbox_installupdate = nullptr;
    QCheckBox *checkbox_launchauto = nullptr;
    QPushButton *btnCheckForUpdate = nullptr;
    // The running executable.
    const QUrl appUrl;

    // Sets the checkboxes from the saved settings.
    void viewDidLoad();
    void checkbox_autolaunch();
    void checkbox_installupdate_clicked();
    void btncheckforupdate();

protected:
    void showEvent(QShowEvent *event) override;
};

class TabViewSettings : public QTabWidget
{
    Q_OBJECT
public:
    explicit TabViewSettings(QWidget *parent = nullptr);

    settingsVc *settings = nullptr;  // tab 0
    aboutVc *about = nullptr;        // tab 1

    // Selects the tab preferencesTabIndex.
    void viewWillAppear();
};

class preferencesWindowController : public QWidget
{
    Q_OBJECT
public:
    explicit preferencesWindowController(QWidget *parent = nullptr);

    TabViewSettings *tabView = nullptr;

    // Shows the window on the tab that preferencesTabIndex names.
    void showWindow();
};
