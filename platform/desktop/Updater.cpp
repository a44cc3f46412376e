// Update checks against the configured feed, download and verification of a release.
#include "platform/desktop/Updater.h"

#include "platform/desktop/Alert.h"
#include "platform/desktop/DeploymentConfig.h"
#include "platform/desktop/Paths.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Timer.h"

#include "Version.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>

namespace lg {

namespace {

const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
const QString lgNamespace = QStringLiteral("urn:lumengallery:appcast");

const QString displayName = QStringLiteral(LG_DISPLAY_NAME);

// The components of a dotted version of whole numbers, or nothing.
std::optional<QList<qulonglong>> versionComponents(const QString &version)
{
    const QString trimmed = version.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QList<qulonglong> parts;
    for (const QString &part : trimmed.split(QLatin1Char('.'))) {
        if (part.isEmpty() || part.size() > 18)
            return std::nullopt;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        parts.append(part.toULongLong());
    }
    return parts;
}

bool isHexDigest(const QByteArray &hex)
{
    if (hex.size() != 64)
        return false;
    for (char c : hex) {
        const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (!digit)
            return false;
    }
    return true;
}

// A file name for the download taken from the address, without any folder part.
QString downloadFileName(const QUrl &url)
{
    QString name = QFileInfo(url.path()).fileName();
    name.remove(QLatin1Char('/'));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.startsWith(QLatin1Char('.')))
        name = QStringLiteral("update");
    return name;
}

QPointer<Updater> &sharedUpdater()
{
    static QPointer<Updater> updater;
    return updater;
}

} // namespace

std::optional<int> compareVersions(const QString &a, const QString &b)
{
    const auto left = versionComponents(a);
    const auto right = versionComponents(b);
    if (!left || !right)
        return std::nullopt;
    const qsizetype count = std::max(left->size(), right->size());
    for (qsizetype i = 0; i < count; ++i) {
        const qulonglong l = i < left->size() ? left->at(i) : 0;
        const qulonglong r = i < right->size() ? right->at(i) : 0;
        if (l != r)
            return l < r ? -1 : 1;
    }
    return 0;
}

QList<AppcastItem> parseAppcast(const QByteArray &xml, QString *error)
{
    QList<AppcastItem> items;
    QXmlStreamReader reader(xml);
    bool inItem = false;
    AppcastItem item;
    QString elementVersion, elementShort, elementSha;
    QString enclosureVersion, enclosureShort, enclosureSha, enclosureUrl, enclosureLength;

    auto finishItem = [&] {
        const QString version = !elementVersion.trimmed().isEmpty() ? elementVersion.trimmed() : enclosureVersion.trimmed();
        QString shortVersion = !elementShort.trimmed().isEmpty() ? elementShort.trimmed() : enclosureShort.trimmed();
        if (shortVersion.isEmpty())
            shortVersion = version;
        const QByteArray sha = (!elementSha.trimmed().isEmpty() ? elementSha : enclosureSha).trimmed().toLower().toLatin1();
        const QUrl url(enclosureUrl.trimmed(), QUrl::StrictMode);
        bool lengthOk = false;
        const qint64 length = enclosureLength.trimmed().toLongLong(&lengthOk);
        const bool usable = versionComponents(version).has_value() && url.isValid()
            && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
            && !url.host().isEmpty() && lengthOk && length > 0 && isHexDigest(sha);
        if (usable) {
            item.version = version;
            item.shortVersion = shortVersion;
            item.url = url;
            item.length = length;
            item.sha256 = sha;
            items.append(item);
        } else {
            printLine(QStringLiteral("Skipped an update feed item without a usable version, address, length or checksum"));
        }
    };

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = reader.name();
            const QStringView ns = reader.namespaceUri();
            if (!inItem) {
                if (name == QLatin1String("item") && ns.isEmpty()) {
                    inItem = true;
                    item = AppcastItem();
                    elementVersion.clear();
                    elementShort.clear();
                    elementSha.clear();
                    enclosureVersion.clear();
                    enclosureShort.clear();
                    enclosureSha.clear();
                    enclosureUrl.clear();
                    enclosureLength.clear();
                }
                continue;
            }
            if (ns.isEmpty() && name == QLatin1String("title")) {
                item.title = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (ns == sparkleNamespace && name == QLatin1String("version")) {
                elementVersion = reader.readElementText(QXmlStreamReader::SkipChildElements);
            } else if (ns == sparkleNamespace && name == QLatin1String("shortVersionString")) {
                elementShort = reader.readElementText(QXmlStreamReader::SkipChildElements);
            } else if (ns == lgNamespace && name == QLatin1String("sha256")) {
                elementSha = reader.readElementText(QXmlStreamReader::SkipChildElements);
            } else if (ns.isEmpty() && name == QLatin1String("enclosure")) {
                const QXmlStreamAttributes attributes = reader.attributes();
                enclosureUrl = attributes.value(QString(), QStringLiteral("url")).toString();
                enclosureLength = attributes.value(QString(), QStringLiteral("length")).toString();
                enclosureVersion = attributes.value(sparkleNamespace, QStringLiteral("version")).toString();
                enclosureShort = attributes.value(sparkleNamespace, QStringLiteral("shortVersionString")).toString();
                enclosureSha = attributes.value(lgNamespace, QStringLiteral("sha256")).toString();
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (inItem && reader.name() == QLatin1String("item") && reader.namespaceUri().isEmpty()) {
                inItem = false;
                finishItem();
            }
        }
    }
    if (reader.hasError()) {
        if (error)
            *error = reader.errorString();
        return {};
    }
    if (error)
        error->clear();
    return items;
}

std::optional<AppcastItem> newestUpdate(const QList<AppcastItem> &items, const QString &currentVersion)
{
    std::optional<AppcastItem> best;
    for (const AppcastItem &item : items) {
        const std::optional<int> againstCurrent = compareVersions(item.version, currentVersion);
        if (!againstCurrent || *againstCurrent <= 0)
            continue;
        if (!best || compareVersions(item.version, best->version).value_or(0) > 0)
            best = item;
    }
    return best;
}

void UpdaterDelegate::willDownloadUpdate(Updater *, const AppcastItem &, QNetworkRequest &) {}
void UpdaterDelegate::didDownloadUpdate(Updater *, const AppcastItem &, const QString &) {}

Updater::Updater(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<AppcastItem>();
    m_network = new QNetworkAccessManager(this);
    m_network->setTransferTimeout(transferTimeoutMs);
    m_scheduled = new Timer(this);
    m_scheduled->setSingleShot(false);
    m_scheduled->setInterval(updateCheckIntervalMs);
    connect(m_scheduled, &Timer::timeout, this, [this] { checkForUpdatesInBackground(); });
    sharedUpdater() = this;
}

Updater::~Updater()
{
    discardDownload();
}

Updater *Updater::shared()
{
    if (!sharedUpdater())
        new Updater(QCoreApplication::instance());
    return sharedUpdater();
}

void Updater::setFeedURL(const QUrl &url) { m_feedURL = url; }

QUrl Updater::feedURL() const
{
    if (!m_feedURL.isEmpty())
        return m_feedURL;
    const QString configured = DeploymentConfig::value(QStringLiteral("updateFeed")).trimmed();
    return configured.isEmpty() ? QUrl() : QUrl(configured, QUrl::StrictMode);
}

void Updater::setCurrentVersion(const QString &version) { m_currentVersion = version; }

QString Updater::currentVersion() const
{
    return m_currentVersion.isEmpty() ? QCoreApplication::applicationVersion() : m_currentVersion;
}

void Updater::setDelegate(UpdaterDelegate *delegate) { m_delegate = delegate; }
UpdaterDelegate *Updater::delegate() const { return m_delegate; }

void Updater::setAutomaticallyChecksForUpdates(bool on)
{
    m_autoCheck = on;
    if (on) {
        if (!m_scheduled->isActive())
            m_scheduled->start();
    } else {
        m_scheduled->stop();
    }
}

bool Updater::automaticallyChecksForUpdates() const { return m_autoCheck; }
void Updater::setAutomaticallyDownloadsUpdates(bool on) { m_autoDownload = on; }
bool Updater::automaticallyDownloadsUpdates() const { return m_autoDownload; }
bool Updater::isBusy() const { return m_busy; }

QString Updater::downloadFolder()
{
    return Paths::cache() + QStringLiteral("/updates");
}

void Updater::checkForUpdatesInBackground() { startCheck(false); }
void Updater::checkForUpdates() { startCheck(true); }

void Updater::startCheck(bool userInitiated)
{
    if (m_busy) {
        printLine(QStringLiteral("An update check is already under way"));
        return;
    }
    const QUrl feed = feedURL();
    if (feed.isEmpty()) {
        printLine(QStringLiteral("No update feed is configured; updates are not checked"));
        return;
    }
    if (!feed.isValid() || (feed.scheme() != QLatin1String("http") && feed.scheme() != QLatin1String("https"))) {
        printLine(QStringLiteral("The update feed address is not usable: ") + feed.toString());
        return;
    }
    m_busy = true;
    m_userInitiated = userInitiated;
    QNetworkRequest request(feed);
    request.setTransferTimeout(transferTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > maxFeedBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { feedArrived(reply); });
}

void Updater::feedArrived(QNetworkReply *reply)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300) {
        fail(QStringLiteral("The update feed could not be read: ") + reply->errorString());
        return;
    }
    QString error;
    const QList<AppcastItem> items = parseAppcast(reply->readAll(), &error);
    if (!error.isEmpty()) {
        fail(QStringLiteral("The update feed is not a readable feed: ") + error);
        return;
    }
    const std::optional<AppcastItem> update = newestUpdate(items, currentVersion());
    if (!update) {
        printLine(QStringLiteral("No update available"));
        if (m_userInitiated) {
            Alert::inform(QApplication::activeWindow(), QStringLiteral("You’re up to date!"),
                          QStringLiteral("%1 %2 is currently the newest version available.")
                              .arg(displayName, currentVersion()));
        }
        end();
        return;
    }
    printLine(QStringLiteral("Update available: ") + update->shortVersion);
    if (m_autoDownload && !m_userInitiated)
        startDownload(*update);
    else
        offerUpdate(*update);
}

void Updater::offerUpdate(const AppcastItem &item)
{
    AlertSpec spec;
    spec.title = QStringLiteral("A new version of %1 is available!").arg(displayName);
    spec.text = QStringLiteral("%1 %2 is now available—you have %3. Would you like to download it now?")
                    .arg(displayName, item.shortVersion, currentVersion());
    spec.buttons = {QStringLiteral("Install Update"), QStringLiteral("Remind Me Later")};
    spec.style = AlertSpec::Style::Informational;
    QPointer<Updater> self(this);
    Alert::show(QApplication::activeWindow(), spec, [self, item](int button) {
        if (!self)
            return;
        if (button == 0) {
            self->startDownload(item);
        } else {
            self->end();
        }
    });
}

void Updater::startDownload(const AppcastItem &item)
{
    m_item = item;
    const QString folder = downloadFolder();
    if (!QDir().mkpath(folder)) {
        fail(QStringLiteral("The update folder could not be made: ") + folder);
        return;
    }
    QNetworkRequest request(item.url);
    request.setTransferTimeout(transferTimeoutMs);
    if (m_delegate)
        m_delegate->willDownloadUpdate(this, item, request);

    m_file = new QSaveFile(folder + QLatin1Char('/') + downloadFileName(item.url));
    m_file->setDirectWriteFallback(false);
    if (!m_file->open(QIODevice::WriteOnly)) {
        const QString reason = m_file->errorString();
        discardDownload();
        fail(QStringLiteral("The update could not be saved: ") + reason);
        return;
    }
    m_hash = new QCryptographicHash(QCryptographicHash::Sha256);
    m_received = 0;
    m_tooLong = false;
    m_download = m_network->get(request);
    connect(m_download, &QNetworkReply::readyRead, this, [this] {
        if (!m_download || !m_file)
            return;
        const QByteArray chunk = m_download->readAll();
        m_received += chunk.size();
        if (m_received > m_item.length) {
            // More than the feed announced: not the release it describes.
            m_tooLong = true;
            m_download->abort();
            return;
        }
        m_hash->addData(chunk);
        if (m_file->write(chunk) != chunk.size())
            m_download->abort();
    });
    connect(m_download, &QNetworkReply::finished, this, [this] { downloadArrived(); });
}

void Updater::downloadArrived()
{
    QNetworkReply *reply = m_download;
    if (!reply)
        return;
    reply->deleteLater();
    m_download = nullptr;
    if (!m_tooLong && reply->error() == QNetworkReply::NoError) {
        const QByteArray rest = reply->readAll();
        m_received += rest.size();
        if (m_received <= m_item.length && !rest.isEmpty()) {
            m_hash->addData(rest);
            m_file->write(rest);
        }
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_tooLong || m_received != m_item.length) {
        discardDownload();
        fail(QStringLiteral("The update download was discarded: its size does not match the feed"));
        return;
    }
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300) {
        discardDownload();
        fail(QStringLiteral("The update could not be downloaded: ") + reply->errorString());
        return;
    }
    if (m_hash->result().toHex() != m_item.sha256) {
        discardDownload();
        fail(QStringLiteral("The update download was discarded: its checksum does not match the feed"));
        return;
    }
    const QString path = m_file->fileName();
    if (!m_file->commit()) {
        const QString reason = m_file->errorString();
        discardDownload();
        fail(QStringLiteral("The update could not be saved: ") + reason);
        return;
    }
    delete m_file;
    m_file = nullptr;
    delete m_hash;
    m_hash = nullptr;
    const AppcastItem item = m_item;
    if (m_delegate)
        m_delegate->didDownloadUpdate(this, item, path);
    Q_EMIT updateDownloaded(item, path);
    end();
}

void Updater::discardDownload()
{
    if (m_download) {
        QNetworkReply *reply = m_download;
        m_download = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    if (m_file) {
        m_file->cancelWriting();
        delete m_file;  // an uncommitted QSaveFile removes its temporary file
        m_file = nullptr;
    }
    delete m_hash;
    m_hash = nullptr;
}

void Updater::fail(const QString &reason)
{
    printLine(reason);
    if (m_userInitiated) {
        Alert::inform(QApplication::activeWindow(), QStringLiteral("Update Error!"),
                      QStringLiteral("An error occurred while updating %1. Please try again later.").arg(displayName));
    }
    Q_EMIT failed(reason);
    end();
}

void Updater::end()
{
    m_busy = false;
    m_userInitiated = false;
    Q_EMIT finished();
}

} // namespace lg
