#include "outreach/StartupVc.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "controls/ZLFlatButton.h"
#include "outreach/PromotionCatalogue.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/DeploymentConfig.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Console.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

using lg::printLine;

const QString StartupVc::newsletterPath = QStringLiteral("/wp-content/plugins/newsletter-api/add.php/?nl=3&nk=");

namespace {

// A heavy check mark with the emoji selector and a blank.
const QString checkMark = QStringLiteral("\u2714\uFE0F ");

constexpr int iconSize = 96;

QByteArray encodedBase64(const QString &text)
{
    // Base64 may hold "+", "/" and "=": percent-encoded so that they reach the
    // server as they are.
    return QUrl::toPercentEncoding(QString::fromLatin1(text.toUtf8().toBase64()));
}

QFont lightFont(int pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica Neue Light"), QStringLiteral("Helvetica Neue"), QStringLiteral("sans-serif")});
    font.setPointSize(pointSize);
    font.setWeight(QFont::Light);
    return font;
}

const char *welcomeStyle = R"css(
StartupVc { background-color: #1e1e1e; }
QLabel { color: #e6e6e6; background: transparent; }
QLabel#lblSubtitle, QLabel#lblNewsletterNote { color: #9a9a9a; }
QFrame#card { background-color: #272727; border: 1px solid #363636; border-radius: 12px; }
QLabel#lbltitlebox { color: #ffffff; font-weight: 600; }
QLineEdit#txtfield {
    background-color: #2b2b2b; color: #f0f0f0; border: 1px solid #454545;
    border-radius: 6px; padding: 7px 10px; selection-background-color: @accent;
}
QLineEdit#txtfield:focus { border: 1px solid @accent; }
QPushButton {
    background-color: #333333; color: #f0f0f0; border: 1px solid #4a4a4a;
    border-radius: 6px; padding: 7px 18px;
}
QPushButton:hover { background-color: #3d3d3d; }
QPushButton:pressed { background-color: #2a2a2a; }
QPushButton#btnGetStarted {
    background-color: @accent; color: #1e1e1e; border: none;
    border-radius: 8px; padding: 11px 44px; font-weight: 600;
}
QPushButton#btnGetStarted:hover { background-color: rgb(255,172,30); }
QPushButton#btnGetStarted:pressed { background-color: rgb(214,134,0); }
)css";

} // namespace

StartupVc::StartupVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("StartupVc"));
    m_network = new QNetworkAccessManager(this);
    m_network->setTransferTimeout(newsletterTimeoutMs);
    buildLayout();
    viewDidLoad();
}

void StartupVc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(withAccentColour(QString::fromLatin1(welcomeStyle)));

    auto *title = new QLabel(QStringLiteral("Welcome to Lumen Gallery"), this);
    title->setObjectName(QStringLiteral("lblWelcome"));
    title->setFont(lightFont(30));
    title->setAlignment(Qt::AlignHCenter);
    auto *subtitle = new QLabel(QStringLiteral("Browse, view and edit your photos and videos."), this);
    subtitle->setObjectName(QStringLiteral("lblSubtitle"));
    subtitle->setFont(lightFont(14));
    subtitle->setAlignment(Qt::AlignHCenter);

    // The recommended-application card.
    auto *card = new QFrame(this);
    card->setObjectName(QStringLiteral("card"));
    card->setFixedWidth(600);
    imgicon = new QLabel(card);
    imgicon->setObjectName(QStringLiteral("imgicon"));
    imgicon->setFixedSize(iconSize, iconSize);
    imgicon->setAlignment(Qt::AlignCenter);
    lbltitlebox = new QLabel(card);
    lbltitlebox->setObjectName(QStringLiteral("lbltitlebox"));
    lbltitlebox->setFont(lightFont(15));
    lbltitlebox->setWordWrap(true);
    QLabel **lines[] = {&lbl1box, &lbl2box, &lbl3box, &lbl4box};
    for (int i = 0; i < 4; ++i) {
        *lines[i] = new QLabel(card);
        (*lines[i])->setObjectName(QStringLiteral("lbl%1box").arg(i + 1));
        (*lines[i])->setFont(lightFont(13));
        (*lines[i])->setWordWrap(true);
    }
    btnappstore = new QPushButton(QStringLiteral("View in Store"), card);
    btnappstore->setObjectName(QStringLiteral("btnappstore"));
    btnappstore->setCursor(Qt::PointingHandCursor);
    btnoutsideappstore = new ZLFlatButton(card);
    btnoutsideappstore->setObjectName(QStringLiteral("btnoutsideappstore"));
    btnoutsideappstore->setText(QStringLiteral("Learn More"));
    btnoutsideappstore->setFont(lightFont(13));
    btnoutsideappstore->setFixedSize(132, 32);
    btnoutsideappstore->setCornerRadius(6);
    btnoutsideappstore->setBorderWidth(1);
    const QColor accent = accentOrange();
    btnoutsideappstore->setBorderNormalColor(accent);
    btnoutsideappstore->setTitleNormalColor(accent);
    btnoutsideappstore->setBackgroundNormalColor(QColor(0, 0, 0, 0));
    btnoutsideappstore->initializeButtonColor(QColor(0, 0, 0, 0), accentWithAlpha(40), accentWithAlpha(70));
    connect(btnappstore, &QPushButton::clicked, this, &StartupVc::btnAppstore);
    connect(btnoutsideappstore, &ZLFlatButton::clicked, this, &StartupVc::btnoutsideappstoreClicked);

    auto *text = new QVBoxLayout;
    text->setSpacing(6);
    text->addWidget(lbltitlebox);
    text->addSpacing(4);
    for (QLabel **line : lines)
        text->addWidget(*line);
    auto *links = new QHBoxLayout;
    links->addWidget(btnoutsideappstore);
    links->addWidget(btnappstore);
    links->addStretch();
    text->addSpacing(6);
    text->addLayout(links);
    auto *cardLayout = new QHBoxLayout(card);
    cardLayout->setContentsMargins(24, 22, 24, 22);
    cardLayout->setSpacing(22);
    cardLayout->addWidget(imgicon, 0, Qt::AlignTop);
    cardLayout->addLayout(text, 1);

    // The newsletter sign-up.
    auto *newsletterTitle = new QLabel(QStringLiteral("Subscribe to our newsletter"), this);
    newsletterTitle->setObjectName(QStringLiteral("lblNewsletter"));
    newsletterTitle->setFont(lightFont(14));
    auto *newsletterNote = new QLabel(QStringLiteral("News, tips and updates, now and then."), this);
    newsletterNote->setObjectName(QStringLiteral("lblNewsletterNote"));
    newsletterNote->setFont(lightFont(11));
    txtfield = new QLineEdit(this);
    txtfield->setObjectName(QStringLiteral("txtfield"));
    txtfield->setPlaceholderText(QStringLiteral("Your email address"));
    btnSubscribeButton = new QPushButton(QStringLiteral("Subscribe"), this);
    btnSubscribeButton->setObjectName(QStringLiteral("btnSubscribe"));
    btnSubscribeButton->setCursor(Qt::PointingHandCursor);
    connect(btnSubscribeButton, &QPushButton::clicked, this, &StartupVc::btnSubscribe);
    connect(txtfield, &QLineEdit::returnPressed, this, &StartupVc::btnSubscribe);
    auto *newsletter = new QWidget(this);
    newsletter->setFixedWidth(600);
    auto *newsletterLayout = new QVBoxLayout(newsletter);
    newsletterLayout->setContentsMargins(0, 0, 0, 0);
    newsletterLayout->setSpacing(8);
    newsletterLayout->addWidget(newsletterTitle);
    newsletterLayout->addWidget(newsletterNote);
    auto *field = new QHBoxLayout;
    field->setSpacing(10);
    field->addWidget(txtfield, 1);
    field->addWidget(btnSubscribeButton);
    newsletterLayout->addLayout(field);

    btnGetStartedButton = new QPushButton(QStringLiteral("Get Started"), this);
    btnGetStartedButton->setObjectName(QStringLiteral("btnGetStarted"));
    btnGetStartedButton->setFont(lightFont(15));
    btnGetStartedButton->setCursor(Qt::PointingHandCursor);
    btnGetStartedButton->setDefault(true);
    connect(btnGetStartedButton, &QPushButton::clicked, this, &StartupVc::btnGetStarted);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(0);
    column->addStretch(3);
    column->addWidget(title);
    column->addSpacing(8);
    column->addWidget(subtitle);
    column->addSpacing(36);
    column->addWidget(card, 0, Qt::AlignHCenter);
    column->addSpacing(32);
    column->addWidget(newsletter, 0, Qt::AlignHCenter);
    column->addSpacing(40);
    column->addWidget(btnGetStartedButton, 0, Qt::AlignHCenter);
    column->addStretch(4);
}

void StartupVc::viewDidLoad()
{
    refreshInstalledApps();
    const QList<PromotionEntry> entries = PromotionCatalogue::load();
    const PromotionEntry *chosen = nullptr;
    const char *prefix = "";
    for (const RecommendedCandidate &candidate : PromotionCatalogue::recommendedCandidates) {
        if (!installedAppFlags[candidate.entry - 1]) {
            chosen = &entries[candidate.entry - 1];
            prefix = candidate.titlePrefix;
            break;
        }
    }

    if (chosen) {
        const QImage icon = PromotionCatalogue::icon(*chosen);
        imgicon->setPixmap(icon.isNull() ? QPixmap()
                                         : QPixmap::fromImage(icon).scaled(iconSize, iconSize, Qt::KeepAspectRatio,
                                                                           Qt::SmoothTransformation));
        lbltitlebox->setVisible(true);
        lbl4box->setVisible(true);
        lbltitlebox->setText(QString::fromUtf8(prefix) + chosen->title);
        QLabel *lines[] = {lbl1box, lbl2box, lbl3box, lbl4box};
        for (int i = 0; i < 4; ++i)
            lines[i]->setText(checkMark + chosen->features.value(i));
        apppath = chosen->pageAddress;
        btnappstore->setVisible(false);
        btnoutsideappstore->setVisible(true);
    } else {
        // Nothing to recommend: the card describes this program.
        imgicon->setPixmap(QIcon(QStringLiteral(":/images/lumengallery.svg")).pixmap(iconSize, iconSize));
        lbltitlebox->setVisible(false);
        lbl4box->setVisible(false);
        btnappstore->setVisible(false);
        btnoutsideappstore->setVisible(false);
        lbl1box->setText(checkMark + QStringLiteral("A lightweight, versatile Image Viewer"));
        lbl2box->setText(checkMark + QStringLiteral("Easy navigation for images"));
        lbl3box->setText(checkMark + QStringLiteral("Play fullscreen slide show"));
        apppath = QString();
    }
}

void StartupVc::btnGetStarted()
{
    lg::Settings::setValue(firstRunKey, 1);
    mainWindow()->showhomevc();
}

void StartupVc::btnAppstore()
{
    const QUrl url(apppath, QUrl::StrictMode);
    if (apppath.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return;
    QDesktopServices::openUrl(url);
}

void StartupVc::btnoutsideappstoreClicked()
{
    btnAppstore();
}

bool StartupVc::isValidEmail(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}")));
    return pattern.match(text).hasMatch();
}

void StartupVc::btnSubscribe()
{
    const QString text = txtfield->text();
    if (text.isEmpty()) {
        showNewsletterSheet(QStringLiteral("Email cannot be blank"), QStringLiteral("Please enter a valid Email address"));
        return;
    }
    if (!isValidEmail(text)) {
        showNewsletterSheet(QStringLiteral("Invalid Email"), QStringLiteral("Please enter a valid Email address"));
        return;
    }
    sendNewsletterSubscription();
    printLine(QStringLiteral("done"));
}

QString StartupVc::newsletterAddress(const QString &email)
{
    QString host = lg::DeploymentConfig::value(QStringLiteral("newsletterEndpoint")).trimmed();
    if (host.isEmpty())
        return QString();
    if (!host.contains(QStringLiteral("://")))
        host.prepend(QStringLiteral("http://"));
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    // The list key is deployment data as well; a deployment without one sends it empty.
    const QString listKeyName = QStringLiteral("newsletterListKey");
    const QString listKey =
        lg::DeploymentConfig::keys().contains(listKeyName) ? lg::DeploymentConfig::value(listKeyName) : QString();
    return host + newsletterPath + QString::fromLatin1(encodedBase64(listKey)) + QStringLiteral("&ne=")
        + QString::fromLatin1(encodedBase64(email)) + QStringLiteral("&nn=") + QString::fromLatin1(encodedBase64(QString()));
}

void StartupVc::sendNewsletterSubscription()
{
    const QString address = newsletterAddress(txtfield->text());
    if (address.isEmpty()) {
        printLine(QStringLiteral("No newsletter endpoint is configured; the subscription is not sent"));
        return;
    }
    const QUrl url = QUrl::fromEncoded(address.toUtf8(), QUrl::StrictMode);
    if (!url.isValid()) {
        printLine(QStringLiteral("The newsletter endpoint is not usable: ") + address);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(newsletterTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { handleNewsletterReply(reply); });
}

void StartupVc::handleNewsletterReply(QNetworkReply *reply)
{
    reply->deleteLater();
    // Only a reply that never came is dropped; a server that answers with an
    // error status may still send one of the codes.
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (reply->error() != QNetworkReply::NoError && !answered) {
        printLine(reply->errorString());
        return;
    }
    // The reply may be a bare number: read it as the one element of an array.
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + reply->readAll() + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1) {
        printLine(error.error != QJsonParseError::NoError ? error.errorString()
                                                          : QStringLiteral("The reply is not one JSON value"));
        return;
    }
    const QJsonValue value = document.array().at(0);
    const double number = value.toDouble();
    const bool isInteger = value.isDouble() && std::isfinite(number) && number == std::trunc(number)
        && std::abs(number) < 2147483648.0;
    printLine(isInteger ? QString::number(qint64(number)) : QStringLiteral("nil"));
    if (!isInteger)
        return;
    const int code = int(number);
    switch (code) {
    case 0:
        printLine(QStringLiteral("success"));
        showNewsletterSheet(QStringLiteral("Successfully Subscribed"),
                            QStringLiteral("You have Successfully Subscribed for our Newslatter."));
        break;
    case 1:
        printLine(QStringLiteral("duplicatedata"));
        showNewsletterSheet(QStringLiteral("Already Subscribed"),
                            QStringLiteral("The email address \"") + txtfield->text()
                                + QStringLiteral("\" already has an Active Subscription."));
        break;
    case 2:
        printLine(QStringLiteral("server problem"));
        showNewsletterSheet(QStringLiteral("Unknown error"),
                            QStringLiteral("There was an error in processing your request. Please try again later."));
        break;
    default:
        break;
    }
}

void StartupVc::showNewsletterSheet(const QString &title, const QString &text)
{
    lg::AlertSpec spec;
    spec.title = title;
    spec.text = text;
    spec.buttons = {QStringLiteral("OK")};
    spec.style = lg::AlertSpec::Style::Warning;
    QPointer<StartupVc> self(this);
    lg::Alert::show(window(), spec, [self](int button) {
        if (self)
            self->okclicked(1000 + button);
    });
}

void StartupVc::okclicked(int returnCode)
{
    if (returnCode != 1000)
        return;
    printLine(QStringLiteral("okclicked"));
    txtfield->clear();
}
