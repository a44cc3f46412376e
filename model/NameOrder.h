#pragma once
// The order in which folder listings are shown before any sort: by name as file
// managers show it, case-insensitive, with runs of digits compared as numbers
// ("IMG_2" before "IMG_10"). Pure functions, any thread.
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVector>

// <0, 0 or >0 as a sorts before, with or after b. Names equal but for case or
// leading zeros are told apart by their exact text, so the order is total.
int compareNames(QStringView a, QStringView b);

// Sorts full paths by their last component with compareNames.
void sortPathsByName(QStringList &paths);
// The indices of paths in that order (paths itself unchanged).
QVector<qsizetype> nameOrderOf(const QStringList &paths);
