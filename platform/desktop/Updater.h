#pragma once
// Application updates from an appcast feed.
//
// The feed address is the deployment's "updateFeed" (platform/desktop/DeploymentConfig.h)
// unless one is set with setFeedURL(). With no address, nothing is checked.
//
// The feed is RSS 2.0; every <item> of its <channel> describes one release:
//
//   <rss version="2.0"
//        xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"
//        xmlns:lg="urn:lumengallery:appcast">
//     <channel>
//       <item>
//         <title>Lumen Gallery 1.2</title>
//         <sparkle:version>1.2</sparkle:version>
//         <sparkle:shortVersionString>1.2</sparkle:shortVersionString>
//         <lg:sha256>64 hexadecimal digits</lg:sha256>
//         <enclosure url="https://example.org/lumengallery-1.2.tar.xz" length="123456"
//                    type="application/octet-stream"
//                    sparkle:version="1.2" sparkle:shortVersionString="1.2"
//                    lg:sha256="64 hexadecimal digits"/>
//       </item>
//     </channel>
//   </rss>
//
// Elements and attributes are matched by namespace and local name, so any prefix
// bound to these namespaces works:
// - version: <sparkle:version> of the item, else the enclosure's sparkle:version.
//   It is compared with the running version, numerically (compareVersions).
// - short version: <sparkle:shortVersionString>, else the enclosure attribute of
//   that name, else the version. Shown to the user only.
// - download: the enclosure's url (http or https) and length (bytes, > 0).
// - checksum: <lg:sha256> of the item, else the enclosure's lg:sha256 (SHA-256 of
//   the download, hexadecimal, either case).
// - sparkle:edSignature and any other element or attribute are ignored.
// An item without a usable version, address, length or checksum is skipped; a
// download is never accepted without its checksum.
//
// A download goes to the "updates" folder of the cache (lg::Paths::cache()). It is
// written beside its final name and kept only when its length and SHA-256 match
// the feed; otherwise it is discarded and the delegate hears nothing. Placing the
// downloaded release is the delegate's business.
#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QCryptographicHash;

namespace lg {

class Timer;
class Updater;

// Compares two versions numerically, component by component ("1.10" is newer than
// "1.9"; missing components count as 0, so "1.0" equals "1"). Returns -1, 0 or 1,
// or nothing when either is not a dotted list of whole numbers.
std::optional<int> compareVersions(const QString &a, const QString &b);

// One release of the feed.
struct AppcastItem
{
    QString title;
    QString version;
    QString shortVersion;
    QUrl url;
    qint64 length = 0;
    QByteArray sha256;  // lower-case hexadecimal
};

// The usable releases of a feed, in feed order. error (when given) is set when the
// document cannot be read at all.
QList<AppcastItem> parseAppcast(const QByteArray &xml, QString *error = nullptr);

// The newest release that is newer than currentVersion, if any.
std::optional<AppcastItem> newestUpdate(const QList<AppcastItem> &items, const QString &currentVersion);

// The calls an updater makes to its owner around a download.
class UpdaterDelegate
{
public:
    virtual ~UpdaterDelegate() = default;
    // Before the download starts; the request may still be changed.
    virtual void willDownloadUpdate(Updater *updater, const AppcastItem &item, QNetworkRequest &request);
    // After a download whose length and checksum matched; path is the file.
    virtual void didDownloadUpdate(Updater *updater, const AppcastItem &item, const QString &path);
};

class Updater : public QObject
{
    Q_OBJECT
public:
    explicit Updater(QObject *parent = nullptr);
    ~Updater() override;

    // The application's updater: the one made last that still exists, or a new one.
    static Updater *shared();

    static constexpr int transferTimeoutMs = 60000;
    static constexpr int updateCheckIntervalMs = 24 * 60 * 60 * 1000;
    static constexpr qint64 maxFeedBytes = 4 * 1024 * 1024;

    void setFeedURL(const QUrl &url);
    // The address set, else the deployment's "updateFeed" (read each time).
    QUrl feedURL() const;
    void setCurrentVersion(const QString &version);
    // The version set, else QCoreApplication::applicationVersion().
    QString currentVersion() const;

    void setDelegate(UpdaterDelegate *delegate);
    UpdaterDelegate *delegate() const;

    // While on, a background check runs once a day. Off when made.
    void setAutomaticallyChecksForUpdates(bool on);
    bool automaticallyChecksForUpdates() const;
    // While on, a newer release found by a background check is downloaded without
    // asking; otherwise the user is asked first. Off when made.
    void setAutomaticallyDownloadsUpdates(bool on);
    bool automaticallyDownloadsUpdates() const;

    // Checks the feed without showing anything unless an update is found.
    void checkForUpdatesInBackground();
    // A check the user asked for: its outcome is always shown.
    void checkForUpdates();
    // True while a check or a download is under way.
    bool isBusy() const;
    // Where downloads go.
    static QString downloadFolder();

Q_SIGNALS:
    // A verified download is at path (after the delegate was told).
    void updateDownloaded(const lg::AppcastItem &item, const QString &path);
    // The check or the download failed; any partial download is gone.
    void failed(const QString &reason);
    // The check (and its download, if any) is over, whatever the outcome.
    void finished();

private:
    void startCheck(bool userInitiated);
    void feedArrived(QNetworkReply *reply);
    void offerUpdate(const AppcastItem &item);
    void startDownload(const AppcastItem &item);
    void downloadArrived();
    void fail(const QString &reason);
    void end();
    void discardDownload();

    QNetworkAccessManager *m_network = nullptr;
    Timer *m_scheduled = nullptr;
    UpdaterDelegate *m_delegate = nullptr;
    QUrl m_feedURL;
    QString m_currentVersion;
    bool m_autoCheck = false;
    bool m_autoDownload = false;
    bool m_busy = false;
    bool m_userInitiated = false;

    // The download under way.
    QPointer<QNetworkReply> m_download;
    QSaveFile *m_file = nullptr;
    QCryptographicHash *m_hash = nullptr;
    qint64 m_received = 0;
    bool m_tooLong = false;
    AppcastItem m_item;
};

} // namespace lg

Q_DECLARE_METATYPE(lg::AppcastItem)
