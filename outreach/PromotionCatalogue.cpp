#include "outreach/PromotionCatalogue.h"

#include "platform/desktop/DeploymentConfig.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>

using lg::printLine;

std::array<bool, PromotionCatalogue::entryCount> installedAppFlags = {};

namespace PromotionCatalogue {

const std::array<RecommendedCandidate, 8> recommendedCandidates = {{
    {7, "Recommended App: "},
    {2, "Recommended app: "},
    {20, "Recommended app: "},
    {3, "Recommended app: "},
    {1, "Recommended app: "},
    {4, "Recommended app: "},
    {9, "Recommended app: "},
    {19, "Recommended app: "},
}};

const std::array<std::array<int, entryCount>, 10> displayOrders = {{
    {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23},
    {6, 16, 20, 13, 22, 18, 15, 2, 14, 4, 19, 8, 11, 3, 10, 7, 9, 1, 5, 21, 12, 23, 17},
    {10, 7, 20, 13, 15, 22, 17, 4, 11, 14, 8, 18, 5, 19, 9, 21, 3, 6, 12, 23, 16, 1, 2},
    {17, 8, 14, 3, 20, 9, 16, 6, 13, 5, 15, 1, 21, 11, 12, 4, 23, 18, 19, 22, 10, 2, 7},
    {7, 10, 5, 14, 12, 17, 9, 13, 11, 22, 21, 3, 15, 2, 16, 6, 8, 4, 23, 19, 1, 18, 20},
    {3, 12, 5, 4, 10, 14, 19, 21, 16, 9, 13, 8, 17, 23, 22, 1, 20, 18, 6, 15, 11, 7, 2},
    {7, 14, 4, 9, 21, 12, 1, 5, 11, 22, 18, 23, 16, 2, 8, 13, 3, 17, 15, 20, 19, 10, 6},
    {5, 11, 9, 22, 19, 14, 17, 21, 16, 23, 4, 2, 1, 12, 20, 10, 18, 7, 13, 3, 6, 15, 8},
    {7, 1, 12, 11, 22, 15, 19, 2, 23, 18, 20, 4, 17, 21, 10, 6, 3, 5, 14, 8, 13, 9, 16},
    {10, 7, 18, 12, 11, 20, 3, 23, 22, 16, 2, 1, 4, 17, 6, 15, 5, 19, 14, 8, 13, 21, 9},
}};

namespace {

struct FixedForm
{
    const char *category;
    bool isAppStore;
};

const FixedForm fixedForm[entryCount] = {
    {"Photo & Video", false}, {"Photo & Video", false}, {"Photo & Video", false},
    {"Photo & Video", true},  {"Productivity", true},   {"Lifestyle", true},
    {"Utilities", false},     {"Productivity", true},   {"Productivity", true},
    {"Productivity", true},   {"Utilities", true},      {"Business", true},
    {"Utilities", true},      {"Utilities", true},      {"Productivity", true},
    {"Utilities", true},      {"Productivity", true},   {"Productivity", true},
    {"Utilities", false},     {"Security", false},      {"Security", false},
    {"Utilities", false},     {"Photo & Video", true},
};

QString localPath(const QString &address)
{
    if (address.startsWith(QLatin1String("file:")))
        return lg::FileNames::pathOf(QUrl(address));
    return address;
}

QString resolveIcon(const QString &icon, const QString &catalogueFolder)
{
    if (icon.isEmpty())
        return QString();
    const QString path = localPath(icon);
    if (QDir::isAbsolutePath(path) || path.startsWith(QLatin1Char(':')))
        return path;
    const QString base = localPath(lg::DeploymentConfig::value(QStringLiteral("promotionIconsBase")).trimmed());
    return QDir(base.isEmpty() ? catalogueFolder : base).filePath(path);
}

} // namespace

QList<PromotionEntry> load()
{
    QList<PromotionEntry> entries;
    for (int i = 0; i < entryCount; ++i) {
        PromotionEntry entry;
        entry.number = i + 1;
        entry.category = QString::fromUtf8(fixedForm[i].category);
        entry.isAppStore = fixedForm[i].isAppStore;
        entries.append(entry);
    }

    const QString address = lg::DeploymentConfig::value(QStringLiteral("promotionCatalogue")).trimmed();
    if (address.isEmpty())
        return entries;
    const QString path = localPath(address);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printLine(QStringLiteral("The promotion catalogue cannot be read: ") + address);
        return entries;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(4 * 1024 * 1024), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        printLine(QStringLiteral("The promotion catalogue is not a readable catalogue: ") + address);
        return entries;
    }
    const QString folder = QFileInfo(path).absolutePath();
    const QJsonArray list = document.object().value(QStringLiteral("entries")).toArray();
    for (const QJsonValue &value : list) {
        const QJsonObject object = value.toObject();
        const int number = object.value(QStringLiteral("number")).toInt(0);
        if (number < 1 || number > entryCount)
            continue;
        PromotionEntry &entry = entries[number - 1];
        entry.title = object.value(QStringLiteral("name")).toString().trimmed();
        entry.description = object.value(QStringLiteral("description")).toString();
        entry.iconPath = resolveIcon(object.value(QStringLiteral("icon")).toString().trimmed(), folder);
        const QString page = object.value(QStringLiteral("page")).toString().trimmed();
        entry.pageAddress = page.isEmpty() ? QString() : pageWithCampaign(page);
        entry.installedName = object.value(QStringLiteral("installedName")).toString().trimmed();
        if (entry.installedName.isEmpty())
            entry.installedName = entry.title;
        entry.features.clear();
        for (const QJsonValue &feature : object.value(QStringLiteral("features")).toArray())
            entry.features.append(feature.toString());
    }
    return entries;
}

QString pageWithCampaign(const QString &address)
{
    return address + (address.contains(QLatin1Char('?')) ? QStringLiteral("&utm_source=lg")
                                                          : QStringLiteral("?utm_source=lg"));
}

QImage icon(const PromotionEntry &entry)
{
    if (entry.iconPath.isEmpty())
        return QImage();
    QImageReader reader(entry.iconPath);
    reader.setAutoTransform(true);
    return reader.read();
}

bool isInstalled(const PromotionEntry &entry)
{
    if (entry.title.isEmpty())
        return true;
    const QString name = entry.installedName;
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return false;
    return !QStandardPaths::locate(QStandardPaths::ApplicationsLocation, name + QStringLiteral(".desktop")).isEmpty();
}

} // namespace PromotionCatalogue

void refreshInstalledApps()
{
    installedAppFlags.fill(false);
    const QList<PromotionEntry> entries = PromotionCatalogue::load();
    for (const PromotionEntry &entry : entries) {
        if (PromotionCatalogue::isInstalled(entry))
            installedAppFlags[entry.number - 1] = true;
    }
}
