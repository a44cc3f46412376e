#pragma once
// Hidden temporaries beside a target, their lock records, and the cleanup of
// what a killed process left.
//
// Every hidden temporary made beside a target (by the file layer and by the
// image writer) is named "." + the target's name (cut to fit) + ".lg<kind>-<token>",
// always within 255 bytes, the token being 16 lower-case hex digits. It is
// owned by a lock file ".lglock-<token>" beside it, whose record names the
// kind, the target's whole name and the temporary; its maker holds it locked
// (flock) for as long as it lives.
//
// The cleanup runs in a folder before a temporary is made there. What it finds
// there is untrusted: it acts only on a lock file that it owns (the user the
// file system checks is this process's), can lock, and whose record is byte for
// byte what this program writes (a kind it writes, the token of the lock file's
// own name, one valid target name, and the temporary name made from those), and
// only on the temporary that record names when it owns that too. A partial copy
// or write is removed (by handle, see Removal.h; a mount point is left); an
// item set aside goes back under its own name, else under the next free
// numbered name, else stays where it is (it is never deleted). Anything else —
// a lock that is held (a live copy in any process, container or NFS client),
// another user's lock or temporary, a record that is not exactly ours, a file
// that no lock names — is left alone, and so is whatever it names.
//
// Any thread; an owner is used by one thread at a time. Failures come back as
// errno values; nothing is shown to the user here.
#include <QByteArray>
#include <QString>

namespace lg {

enum class TemporaryKind {
    Copy,       // an unfinished copy, or the item a Replace swapped out: removed
    Write,      // an unfinished image write: removed
    SetAside,   // the target itself, moved out of the way: put back
};

class TemporaryOwner
{
public:
    TemporaryOwner() = default;
    TemporaryOwner(TemporaryOwner &&other) noexcept;
    TemporaryOwner &operator=(TemporaryOwner &&other) noexcept;
    TemporaryOwner(const TemporaryOwner &) = delete;
    TemporaryOwner &operator=(const TemporaryOwner &) = delete;
    // Releases the lock; the lock file goes too once the temporary is gone, and
    // stays (for the cleanup) when something is left there.
    ~TemporaryOwner();

    // Cleans the target's folder, then claims a free temporary name beside
    // target (nothing is made there yet). Invalid, with *error an errno value,
    // when the folder cannot be written.
    static TemporaryOwner claim(const QString &target, TemporaryKind kind, int *error = nullptr);
    bool isValid() const { return m_lockFd >= 0; }
    QString path() const;
    // What the cleanup would do with what is left: set when a set-aside item
    // has been replaced as asked and is to be removed. False on a write error.
    bool setKind(TemporaryKind kind);

private:
    bool writeRecord();
    void release();
    int m_lockFd = -1;
    QByteArray m_lockPath;
    QByteArray m_temporary;   // raw path
    QByteArray m_targetName;  // raw name
    TemporaryKind m_kind = TemporaryKind::Copy;
};

// A new empty file (0600, open for writing) at a claimed temporary beside
// target. fd is -1 and error an errno value on failure; the caller closes fd and
// renames or removes the file while owner lives.
struct TemporaryFile
{
    TemporaryOwner owner;
    int fd = -1;
    int error = 0;
    QString path;
};
TemporaryFile createTemporaryFile(const QString &target, TemporaryKind kind = TemporaryKind::Write);

} // namespace lg
