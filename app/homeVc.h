#pragma once
// The home screen: where the media come from. Add folders, add a Photos
// library, or continue with the folders open at the last quit; each choice hands
// the sources to the sidebar and makes the content hub the window's content.
#include <QWidget>

class QPushButton;
class QToolButton;

class homeVc : public QWidget
{
    Q_OBJECT
public:
    explicit homeVc(QWidget *parent = nullptr);

    // ---- Outlets ----
    QToolButton *btnAddFolders = nullptr;
    QToolButton *btnAddLibrary = nullptr;
    QPushButton *btnContinuePreviousSelection = nullptr;  // a link
    QWidget *blacklayer = nullptr;   // dims the screen while a panel or alert is up

    void viewDidLoad();
    void viewWillAppear();
    void viewDidAppear();

    // ---- Actions ----
    void btnAddLibrary_clicked();
    void btnaddfolders();
    void btnContinuePreviousSelectionClicked();

    // The rejection text for folders outside the user's folder.
    static QString rejectionMessage();
    // Hands selectedSourceURLs on and makes the hub the window's content.
    void enterBrowser();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildLayout();
};
