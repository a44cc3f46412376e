#pragma once
// The value records that carry one media item through the program.
#include <QDateTime>
#include <QDebug>
#include <QString>
#include <QUrl>
#include <optional>

// The earliest date the program represents; stands in for a missing date and
// sorts before every real one.
QDateTime distantPast();

// A file's dates, size and URL.
struct Metadata
{
    QDateTime Modifieddate;   // content modification date
    double size = 0;          // allocated size on disk, in bytes
    QUrl url;
    QDateTime createdDate;

    // Two values describe the same file when their URLs are equal.
    friend bool operator==(const Metadata &a, const Metadata &b) { return a.url == b.url; }

    // " Size: " and the size as a double (a whole number ends in ".0").
    QString debugDescription() const;

    // Builds the listing entry for a file: url set, file filled from the file
    // system (left empty, with a printed line, when the attributes cannot be read).
    static struct InitialDirectory init(const QUrl &fileURL);
    // The same from attributes the caller has read already with statx (at least
    // attributeMask); nullptr: they could not be read.
    static struct InitialDirectory fromAttributes(const QUrl &fileURL, const struct statx *attributes);
    static const unsigned attributeMask;
};

// One asset row of the Photos library database, stored as read.
struct PhotoLibraryProperties
{
    QString RKMuuid;
    QString RKMimagePath;
    QString RKMFilSize;
    QString RKVuuid;
    QString RKVmodelId;
    QString RKVfilename;
    QString RKAVMId;
    QString OriginalFileName;

    friend bool operator==(const PhotoLibraryProperties &, const PhotoLibraryProperties &) = default;
};

// One entry of the current listing.
struct InitialDirectory
{
    std::optional<QUrl> url;
    std::optional<Metadata> file;
    bool state = false;  // carried along with the item; nothing sets or reads it
    std::optional<PhotoLibraryProperties> photoLibraryProperties;
    bool isImage = false;

    // The file path of the item by its bytes (FileNames::pathOf), or an empty
    // string when it has no URL.
    QString path() const;
    // The path a command on the item acts on. A name that is not valid UTF-8
    // gives its path as text (with U+FFFD), which the file operations refuse
    // as unreadable; empty, with a printed line, when that text names another
    // file (a look-alike), so that no command ever acts on it.
    QString commandPath() const;
};

// One photo of the collage maker's photo list.
struct arrayStruct
{
    std::optional<QUrl> url;
    bool state = false;
};

QDebug operator<<(QDebug debug, const Metadata &metadata);
