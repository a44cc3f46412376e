#pragma once
// The properties of an image file as the information pane shows them: one
// ordered tree in one fixed vocabulary. The top level holds the facts read
// from the file's header by the decoders (size, depth, colour model, ...);
// then come the groups {Exif}, {TIFF}, {GPS}, {IPTC} (read through exiv2) and
// {JFIF}, {PNG}, {GIF} (read from the file's own header blocks). Only the keys
// of the vocabulary appear, always in its order; a group without entries is
// left out. Numbers are written in their shortest decimal form, lists of
// values are joined with "," (no blank), dates and texts as stored.
//
// A video gives what it holds instead: its file size, the size of its
// picture as shown, its duration in seconds, its codec and its creation date.
// The Exif of a HEIF file is read from its Exif item where exiv2 finds none.
//
// What the libraries read of an image file (its header, the metadata, the
// values above) is read in a decode worker, all in one request
// (PropertyProbe.h); where that probe fails, the file shows without them.
//
// Blocking; any thread. An unreadable, empty or damaged file gives none.
#include <QList>
#include <QString>
#include <optional>

namespace lg {

struct PropertyNode
{
    QString key;     // the vocabulary key: "PixelWidth", "{Exif}", "ExposureTime"
    QString label;   // the key as shown: braces removed ("Exif")
    QString value;   // the value text; empty for a group
    QList<PropertyNode> children;   // a group's entries
    bool isGroup() const { return key.startsWith(QLatin1Char('{')); }
};

std::optional<QList<PropertyNode>> readPropertyTree(const QString &path);

// The vocabulary in display order: the group ("" for the top level), the key,
// and where the value comes from (for the documentation and the tests).
struct PropertyKey
{
    const char *group;
    const char *key;
    const char *source;
};
QList<PropertyKey> propertyVocabulary();

} // namespace lg
