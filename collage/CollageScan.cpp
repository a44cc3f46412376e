#include "collage/CollageScan.h"

#include "app/Essentials.h"
#include "model/FileServices.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/names/FileNames.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Name order as file managers show it: letters without regard to case, runs
// of digits by their value ("IMG_2" before "IMG_10").
bool nameLess(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            QStringView da = QStringView(a).mid(i, ei - i);
            QStringView db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da.front() == QLatin1Char('0'))
                da = da.mid(1);
            while (db.size() > 1 && db.front() == QLatin1Char('0'))
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size();
            if (const int c = da.compare(db); c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        const QChar ca = a.at(i).toCaseFolded();
        const QChar cb = b.at(j).toCaseFolded();
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

struct Scan
{
    QSet<QUrl> known;
    QList<QUrl> found;

    void addFile(const QUrl &url)
    {
        const QString suffix = QFileInfo(lg::FileNames::pathOf(url)).suffix().toLower();
        if (suffix.isEmpty() || !imageExtensions.contains(suffix) || known.contains(url))
            return;
        known.insert(url);
        found.append(url);
    }

    void addFolder(const QString &folder)
    {
        // At quit the scan's result is unwanted: it stops where it is.
        if (lg::isShuttingDown())
            return;
        // By the names' bytes: a name that is not UTF-8 is its own file,
        // never its look-alike.
        QStringList entries = directoryContents(folder).value_or(QStringList());
        const auto nameOf = [](const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); };
        std::sort(entries.begin(), entries.end(),
                  [&nameOf](const QString &a, const QString &b) { return nameLess(nameOf(a), nameOf(b)); });
        for (const QString &entry : std::as_const(entries)) {
            if (nameOf(entry).startsWith(QLatin1Char('.')))
                continue;
            if (lg::FileNames::isFolder(entry)) {
                if (!isAliasFile(entry).value_or(false))
                    addFolder(entry);
                continue;
            }
            addFile(lg::FileNames::urlOf(entry));
        }
    }
};

} // namespace

QList<QUrl> scanCollagePhotos(const QList<QUrl> &urls, QSet<QUrl> known)
{
    Scan scan;
    scan.known = std::move(known);
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        if (const QString path = lg::FileNames::pathOf(url); lg::FileNames::isFolder(path))
            scan.addFolder(path);
        else
            scan.addFile(url);
    }
    return scan.found;
}
