// File lists and web links on the clipboard, in the formats file managers use.
#include "platform/desktop/Clipboard.h"

#include "platform/files/names/FileNames.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QSet>

#include <cctype>
#include <cstring>
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
    // By its bytes: a name that is not valid UTF-8 stays apart from its look-alike.
    const QString path = host.isEmpty() ? FileNames::pathOf(url) : url.path(QUrl::FullyDecoded);
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return std::nullopt;
    return FileNames::urlOf(QDir::cleanPath(path));
}

QList<QUrl> cleaned(const QList<QUrl> &urls)
{
    QList<QUrl> result;
    QSet<QString> seen;
    for (const QUrl &url : urls) {
        const std::optional<QUrl> local = localFileUrl(url);
        if (!local)
            continue;
        const QString key = FileNames::pathOf(*local);
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
    // Both lists are kept as bytes: a drop target asking for them thousands
    // of times a drag does not encode every URL again.
    QByteArray uriList;
    QByteArray gnome = cut ? QByteArrayLiteral("cut") : QByteArrayLiteral("copy");
    for (const QUrl &url : files) {
        const QByteArray encoded = url.toEncoded();
        uriList += encoded + "\r\n";   // text/uri-list, each line ended by CR LF
        gnome += '\n' + encoded;
    }
    data->setData(QStringLiteral("text/uri-list"), uriList);
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
        // Plain file URLs are read without a QUrl each; any other line sends
        // the whole list through QUrl's strict parser.
        QList<QUrl> plain;
        QList<QUrl> urls;
        QSet<QString> seen;
        bool allPlain = true;
        for (qsizetype i = 1; i < lines.size() && allPlain; ++i) {
            const QByteArray line = lines[i].trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const std::optional<QString> path = plainFileURLPath(line);
            allPlain = path.has_value();
            if (path && !seen.contains(*path)) {
                seen.insert(*path);
                plain.append(FileNames::urlOf(*path));
            }
        }
        clip.cut = !lines.isEmpty() && lines.first().trimmed() == "cut";
        for (qsizetype i = 1; i < lines.size() && !allPlain; ++i) {
            const QByteArray line = lines[i].trimmed();
            if (!line.isEmpty() && !line.startsWith('#'))
                urls.append(QUrl::fromEncoded(line, QUrl::StrictMode));
        }
        clip.urls = allPlain ? plain : cleaned(urls);
        if (!clip.urls.isEmpty())
            return clip;
    }
    clip.urls = cleaned(data->urls());
    clip.cut = data->hasFormat(kdeCutFormat) && data->data(kdeCutFormat).startsWith('1');
    return clip;
}

std::optional<QString> Clipboard::plainFileURLPath(QByteArrayView line)
{
    line = line.trimmed();
    static constexpr QByteArrayView scheme("file://");
    if (line.size() <= scheme.size() || qstrnicmp(line.data(), scheme.size(), scheme.data(), scheme.size()) != 0)
        return std::nullopt;
    QByteArrayView rest = line.sliced(scheme.size());
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0)
        return std::nullopt;
    const QByteArrayView host = rest.first(slash);
    if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QByteArrayView path = rest.sliced(slash);
    // Only what a strict URL allows unescaped in a path, and whole escapes.
    for (qsizetype i = 0; i < path.size(); ++i) {
        const uchar c = uchar(path.at(i));
        if (c <= 0x20 || c >= 0x7f || std::strchr("\"<>\\^`{|}?#[]", c))
            return std::nullopt;
        if (c == '%' && (i + 2 >= path.size() || !std::isxdigit(uchar(path.at(i + 1)))
                         || !std::isxdigit(uchar(path.at(i + 2)))))
            return std::nullopt;
    }
    const QByteArray decoded = QByteArray::fromPercentEncoding(path.toByteArray());
    if (decoded.contains('\0'))
        return std::nullopt;
    const QString result = FileNames::fromNative(decoded);   // bytes not UTF-8 carried
    const bool clean = !result.contains(QLatin1String("//")) && !result.contains(QLatin1String("/./"))
        && !result.contains(QLatin1String("/../")) && !result.endsWith(QLatin1String("/."))
        && !result.endsWith(QLatin1String("/..")) && (result.size() == 1 || !result.endsWith(QLatin1Char('/')));
    return clean ? result : QDir::cleanPath(result);
}

FileClip Clipboard::readFiles()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    return clipboard ? readFiles(clipboard->mimeData()) : FileClip();
}

bool Clipboard::holdsFileWithExtension(const QMimeData *data, const QStringList &extensions)
{
    for (const QUrl &url : readFiles(data).urls) {
        if (extensions.contains(QFileInfo(lg::FileNames::pathOf(url)).suffix().toLower()))
            return true;
    }
    return false;
}

} // namespace lg
