#pragma once
// The catalogue of the maker's other applications, offered by the welcome
// screen's recommended-application card and by the promotion panel.
//
// Its fixed form (23 entries with their categories and badges, the ten display
// orders, the eight card candidates) is part of the program. What the entries are
// called and where they live is deployment data: a JSON file named by the
// deployment's "promotionCatalogue" (a path, a file: address or a ":/" resource):
//
//   { "entries": [ { "number": 7,                 1 to 23
//                    "name": "Example",           an entry without a name is never offered
//                    "description": "One sentence.",
//                    "icon": "example.png",       relative to "promotionIconsBase", else to the file
//                    "page": "https://example.org/example",
//                    "installedName": "example",  the desktop entry (example.desktop) that
//                                                 shows it is installed; the name when absent
//                    "features": ["…", "…", "…", "…"] } ] }   the card's four lines
//
// This deployment ships no products, so nothing is ever offered.
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

struct PromotionEntry
{
    int number = 0;        // 1 to 23
    QString category;      // fixed per entry
    bool isAppStore = false;  // which badge the promotion panel shows
    QString title;
    QString description;
    QString iconPath;      // resolved file or resource path; may be empty
    QString pageAddress;   // the web page with the campaign query added
    QString installedName;
    QStringList features;
};

// One of the recommended-application card's candidates.
struct RecommendedCandidate
{
    int entry;             // the catalogue entry it presents
    const char *titlePrefix;
};

namespace PromotionCatalogue {

constexpr int entryCount = 23;
// The card's candidates, in the order they are tried.
extern const std::array<RecommendedCandidate, 8> recommendedCandidates;
// The promotion panel's ten display orders (entry numbers, first card first).
extern const std::array<std::array<int, entryCount>, 10> displayOrders;

// The 23 entries, numbered 1 to 23 (index number - 1), with the deployment data
// read afresh from the configured file. Entries the file does not name stay
// without a name.
QList<PromotionEntry> load();
// The entry's page address with "utm_source=lg" added as its campaign query.
QString pageWithCampaign(const QString &address);
// The entry's icon, or a null image when it has none or it cannot be read.
QImage icon(const PromotionEntry &entry);
// True when the entry is installed, or has no name (and so is never offered).
bool isInstalled(const PromotionEntry &entry);

} // namespace PromotionCatalogue

// One flag per catalogue entry (index number - 1): true when it is installed.
// All false until the first refreshInstalledApps().
extern std::array<bool, PromotionCatalogue::entryCount> installedAppFlags;
// Sets the 23 flags afresh.
void refreshInstalledApps();
