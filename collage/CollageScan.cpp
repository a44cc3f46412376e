#include "collage/CollageScan.h"

#include "app/Essentials.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/FileNames.h"

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
        QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        std::sort(entries.begin(), entries.end(),
                  [](const QFileInfo &a, const QFileInfo &b) { return nameLess(a.fileName(), b.fileName()); });
        for (const QFileInfo &entry : std::as_const(entries)) {
            if (entry.fileName().startsWith(QLatin1Char('.')))
                continue;
            if (entry.isDir()) {
                if (!entry.isSymLink())
                    addFolder(entry.filePath());
                continue;
            }
            addFile(QUrl::fromLocalFile(entry.filePath()));
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
        const QFileInfo info(lg::FileNames::pathOf(url));
        if (info.exists() && info.isDir())
            scan.addFolder(info.filePath());
        else
            scan.addFile(url);
    }
    return scan.found;
}
