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

// QChar::toCaseFolded, without the table look-up for ASCII (most names).
char16_t folded(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u >= u'A' && u <= u'Z' ? char16_t(u + (u'a' - u'A')) : u;
    return c.toCaseFolded().unicode();
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
        const char16_t ca = folded(a[i]);
        const char16_t cb = folded(b[j]);
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

QVector<qsizetype> nameOrderOf(const QStringList &paths)
{
    // The names are found once, not at every comparison.
    struct Entry
    {
        QStringView name;
        qsizetype index;
    };
    QVector<Entry> entries;
    entries.reserve(paths.size());
    for (qsizetype i = 0; i < paths.size(); ++i)
        entries.append(Entry{lastComponent(paths.at(i)), i});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry &a, const Entry &b) { return compareNames(a.name, b.name) < 0; });
    QVector<qsizetype> order;
    order.reserve(entries.size());
    for (const Entry &entry : std::as_const(entries))
        order.append(entry.index);
    return order;
}

void sortPathsByName(QStringList &paths)
{
    const QVector<qsizetype> order = nameOrderOf(paths);
    QStringList sorted;
    sorted.reserve(paths.size());
    for (qsizetype index : order)
        sorted.append(paths.at(index));
    paths = std::move(sorted);
}
