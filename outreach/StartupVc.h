#pragma once
// The first-run welcome screen: Get Started, the recommended-application card
// and the newsletter sign-up.
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class ZLFlatButton;

class StartupVc : public QWidget
{
    Q_OBJECT
public:
    explicit StartupVc(QWidget *parent = nullptr);

    QLabel *lbl4box = nullptr;       // fourth feature line of the card
    QLabel *lbl3box = nullptr;
    QLabel *lbl2box = nullptr;
    QLabel *lbl1box = nullptr;
    QLabel *lbltitlebox = nullptr;   // the card's title line
    QLabel *imgicon = nullptr;       // the card's icon
    QPushButton *btnappstore = nullptr;
    QLineEdit *txtfield = nullptr;   // the newsletter e-mail field
    ZLFlatButton *btnoutsideappstore = nullptr;
    QString apppath;                 // the link the card's buttons open

    QPushButton *btnGetStartedButton = nullptr;
    QPushButton *btnSubscribeButton = nullptr;

    // The newsletter request's time limit.
    static constexpr int newsletterTimeoutMs = 60000;
    // The fixed part of the subscription address after the endpoint's host.
    static const QString newsletterPath;

    // Builds the card; run once, when the screen is made.
    void viewDidLoad();

    // Leaves the welcome screen for the home screen and marks the first run done.
    void btnGetStarted();
    // Both open apppath in the default browser.
    void btnAppstore();
    void btnoutsideappstoreClicked();

    // The newsletter sign-up.
    void btnSubscribe();
    void sendNewsletterSubscription();
    void handleNewsletterReply(QNetworkReply *reply);
    void showNewsletterSheet(const QString &title, const QString &text);
    // The sheet's completion; 1000 is its OK button.
    void okclicked(int returnCode);

    // The subscription address for an e-mail address, or an empty text when no
    // newsletter endpoint is configured.
    static QString newsletterAddress(const QString &email);
    // True when the text is an e-mail address by the sign-up's pattern (whole text).
    static bool isValidEmail(const QString &text);

private:
    void buildLayout();
    QNetworkAccessManager *m_network = nullptr;
};
