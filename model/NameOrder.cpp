#include "model/NameOrder.h"

#include <algorithm>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QStringView lastComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return QStringView(path).mid(slash + 1);
}

} // namespace

int compareNames(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare the two numbers: without leading zeros, the longer is larger,
            // else the first differing digit decides.
            qsizetype ai = i;
            qsizetype bj = j;
            while (ai < a.size() && a[ai] == QLatin1Char('0'))
                ++ai;
            while (bj < b.size() && b[bj] == QLatin1Char('0'))
                ++bj;
            qsizetype aEnd = ai;
            qsizetype bEnd = bj;
            while (aEnd < a.size() && isDigit(a[aEnd]))
                ++aEnd;
            while (bEnd < b.size() && isDigit(b[bEnd]))
                ++bEnd;
            if (aEnd - ai != bEnd - bj)
                return aEnd - ai < bEnd - bj ? -1 : 1;
            for (qsizetype k = 0; k < aEnd - ai; ++k) {
                if (a[ai + k] != b[bj + k])
                    return a[ai + k] < b[bj + k] ? -1 : 1;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        const char16_t ca = a[i].toCaseFolded().unicode();
        const char16_t cb = b[j].toCaseFolded().unicode();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Equal apart from case or leading zeros: the exact text decides.
    return a.compare(b);
}

void sortPathsByName(QStringList &paths)
{
    std::stable_sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        return compareNames(lastComponent(a), lastComponent(b)) < 0;
    });
}
