#include "platform/Clipboard.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QSet>

#include <optional>

namespace lg {

namespace {

const QString gnomeFormat = QStringLiteral("x-special/gnome-copied-files");
const QString kdeCutFormat = QStringLiteral("application/x-kde-cutselection");

// A file URL on this machine, cleaned; none for anything else.
std::optional<QUrl> localFileUrl(const QUrl &url)
{
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost"))
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return std::nullopt;
    return QUrl::fromLocalFile(QDir::cleanPath(path));
}

QList<QUrl> cleaned(const QList<QUrl> &urls)
{
    QList<QUrl> result;
    QSet<QString> seen;
    for (const QUrl &url : urls) {
        const std::optional<QUrl> local = localFileUrl(url);
        if (!local)
            continue;
        const QString key = local->toLocalFile();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        result.append(*local);
    }
    return result;
}

} // namespace

QMimeData *Clipboard::mimeDataForFiles(const QList<QUrl> &urls, bool cut)
{
    auto *data = new QMimeData;
    const QList<QUrl> files = cleaned(urls);
    data->setUrls(files);  // text/uri-list, each line ended by CR LF
    QByteArray gnome = cut ? QByteArrayLiteral("cut") : QByteArrayLiteral("copy");
    for (const QUrl &url : files)
        gnome += '\n' + url.toEncoded();
    data->setData(gnomeFormat, gnome);
    if (cut)
        data->setData(kdeCutFormat, QByteArrayLiteral("1"));
    return data;
}

void Clipboard::writeFiles(const QList<QUrl> &urls, bool cut)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    if (cleaned(urls).isEmpty()) {
        clipboard->clear();
        return;
    }
    clipboard->setMimeData(mimeDataForFiles(urls, cut));
}

FileClip Clipboard::readFiles(const QMimeData *data)
{
    FileClip clip;
    if (!data)
        return clip;
    if (data->hasFormat(gnomeFormat)) {
        const QList<QByteArray> lines = data->data(gnomeFormat).split('\n');
        QList<QUrl> urls;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            if (i == 0) {
                clip.cut = line == "cut";
                continue;
            }
            if (!line.isEmpty() && !line.startsWith('#'))
                urls.append(QUrl::fromEncoded(line, QUrl::StrictMode));
        }
        clip.urls = cleaned(urls);
        if (!clip.urls.isEmpty())
            return clip;
    }
    clip.urls = cleaned(data->urls());
    clip.cut = data->hasFormat(kdeCutFormat) && data->data(kdeCutFormat).startsWith('1');
    return clip;
}

FileClip Clipboard::readFiles()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    return clipboard ? readFiles(clipboard->mimeData()) : FileClip();
}

bool Clipboard::holdsFileWithExtension(const QMimeData *data, const QStringList &extensions)
{
    for (const QUrl &url : readFiles(data).urls) {
        if (extensions.contains(QFileInfo(url.toLocalFile()).suffix().toLower()))
            return true;
    }
    return false;
}

} // namespace lg
