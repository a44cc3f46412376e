#pragma once
// The about tab of the preferences window: the version and the maker's pages.
#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;

class aboutVc : public QWidget
{
    Q_OBJECT
public:
    explicit aboutVc(QWidget *parent = nullptr);

    QLabel *lblversion = nullptr;
    QPushButton *btnfacebookButton = nullptr;
    QPushButton *btntwitterButton = nullptr;
    QPushButton *btnwebsiteButton = nullptr;

    // Shows the version and offers only the pages that the deployment names.
    void viewDidLoad();
    void btnfacebook();
    void btntwitter();
    void btnwebsite();
    // Opens an address in the default browser; an invalid address does nothing.
    static void openWebPage(const QString &address);
};
