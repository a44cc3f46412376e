#include "app/AboutPane.h"

#include "app/preferencesWindowController.h"
#include "platform/desktop/DeploymentConfig.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

namespace {

const QString facebookKey = QStringLiteral("facebookPage");
const QString twitterKey = QStringLiteral("twitterPage");
const QString websiteKey = QStringLiteral("makerWebPage");

QString address(const QString &key)
{
    return lg::DeploymentConfig::value(key).trimmed();
}

} // namespace

aboutVc::aboutVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("aboutVc"));

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgAppIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/images/lumengallery.svg")).pixmap(88, 88));
    icon->setAlignment(Qt::AlignHCenter);
    auto *name = new QLabel(QStringLiteral("Lumen Gallery"), this);
    name->setObjectName(QStringLiteral("lblAppName"));
    QFont nameFont = name->font();
    nameFont.setPointSize(20);
    nameFont.setWeight(QFont::Light);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignHCenter);
    lblversion = new QLabel(this);
    lblversion->setObjectName(QStringLiteral("lblversion"));
    lblversion->setAlignment(Qt::AlignHCenter);
    lblversion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *tagline = new QLabel(QStringLiteral("A photo and video browser"), this);
    tagline->setObjectName(QStringLiteral("lblTagline"));
    tagline->setAlignment(Qt::AlignHCenter);

    btnwebsiteButton = new QPushButton(QStringLiteral("Website"), this);
    btnwebsiteButton->setObjectName(QStringLiteral("btnwebsite"));
    btnfacebookButton = new QPushButton(QStringLiteral("Facebook"), this);
    btnfacebookButton->setObjectName(QStringLiteral("btnfacebook"));
    btntwitterButton = new QPushButton(QStringLiteral("Twitter"), this);
    btntwitterButton->setObjectName(QStringLiteral("btntwitter"));
    connect(btnwebsiteButton, &QPushButton::clicked, this, &aboutVc::btnwebsite);
    connect(btnfacebookButton, &QPushButton::clicked, this, &aboutVc::btnfacebook);
    connect(btntwitterButton, &QPushButton::clicked, this, &aboutVc::btntwitter);
    auto *links = new QHBoxLayout;
    links->setSpacing(10);
    links->addStretch();
    for (QPushButton *button : {btnwebsiteButton, btnfacebookButton, btntwitterButton}) {
        button->setCursor(Qt::PointingHandCursor);
        links->addWidget(button);
    }
    links->addStretch();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(6);
    column->addStretch();
    column->addWidget(icon);
    column->addSpacing(6);
    column->addWidget(name);
    column->addWidget(lblversion);
    column->addWidget(tagline);
    column->addSpacing(16);
    column->addLayout(links);
    column->addStretch();

    viewDidLoad();
}

void aboutVc::viewDidLoad()
{
    const std::optional<QString> version = shortVersionString();
    lblversion->setText(version ? QStringLiteral("Version ") + *version : QString());
    // A page the deployment does not name has no button.
    btnfacebookButton->setVisible(!address(facebookKey).isEmpty());
    btntwitterButton->setVisible(!address(twitterKey).isEmpty());
    btnwebsiteButton->setVisible(!address(websiteKey).isEmpty());
}

void aboutVc::btnfacebook() { openWebPage(address(facebookKey)); }
void aboutVc::btntwitter() { openWebPage(address(twitterKey)); }
void aboutVc::btnwebsite() { openWebPage(address(websiteKey)); }

void aboutVc::openWebPage(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return;
    if (QDesktopServices::openUrl(url)) {
        std::printf("default browser was successfully opened\n");
        std::fflush(stdout);
    }
}
