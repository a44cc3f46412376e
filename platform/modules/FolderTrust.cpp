// Whether a module folder or file may be changed by users other than root and ours.
#include "platform/modules/FolderTrust.h"

#include "platform/files/names/FileNames.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace lg::image {

namespace {

struct GroupLookup
{
    std::mutex mutex;   // also keeps the walk of the users' list to one thread of ours
    GroupMembersLookup forTesting;
};

GroupLookup &groupLookup()
{
    static GroupLookup *instance = new GroupLookup;
    return *instance;
}

// The system's answer for GroupMembersLookup; the caller holds the lookup's lock.
std::optional<std::vector<uid_t>> systemGroupMembers(gid_t gid)
{
    std::vector<char> buffer(16384);
    struct group entry = {};
    struct group *found = nullptr;
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 24))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    std::vector<uid_t> members;
    for (char **name = entry.gr_mem; name && *name; ++name) {
        std::vector<char> userBuffer(16384);
        struct passwd user = {};
        struct passwd *known = nullptr;
        while (::getpwnam_r(*name, &user, userBuffer.data(), userBuffer.size(), &known) == ERANGE
               && userBuffer.size() < (1u << 24))
            userBuffer.resize(userBuffer.size() * 2);
        // A name no user has may be given to one later: nobody's own.
        members.push_back(known ? user.pw_uid : uid_t(-1));
    }
    // Whose primary group it is: only the users' list says, walked whole as OpenSSH does.
    ::setpwent();
    while (const struct passwd *user = ::getpwent())
        if (user->pw_gid == gid)
            members.push_back(user->pw_uid);
    ::endpwent();
    return members;
}

// Whether users other than the owner of what st describes may change it:

// The name in folder of the file that a link in it, whose text is target,
// leads to; empty when it leads outside the folder.
QByteArray nameInFolder(const QByteArray &folder, const QByteArray &target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray name = target.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return {};
    if (slash < 0)
        return name;
    QByteArray parent = target.left(slash);
    if (!target.startsWith('/'))
        parent = folder + '/' + parent;
    else if (parent.isEmpty())
        parent = "/";
    char realParent[PATH_MAX];
    char realFolder[PATH_MAX];
    if (!::realpath(parent.constData(), realParent) || !::realpath(folder.constData(), realFolder))
        return {};
    return std::strcmp(realParent, realFolder) == 0 ? name : QByteArray();
}

// Folders with their parents, from folder up to "/".
QStringList withParents(const QString &folder)
{
    QStringList chain;
    QString at = QDir::cleanPath(folder);
    while (true) {
        chain << at;
        if (at == QLatin1String("/"))
            break;
        const qsizetype slash = at.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            break;
        at = slash == 0 ? QStringLiteral("/") : at.left(slash);
    }
    return chain;
}

} // namespace

bool ownedByUs(const struct stat &st)
{
    return st.st_uid == 0 || st.st_uid == geteuid();
}

// Everybody may write it, or a group that holds someone else. A group of
// nobody is no better (programs set to run as that group write with it).
bool othersMayWrite(const struct stat &st)
{
    if (st.st_mode & S_IWOTH)
        return true;
    if (!(st.st_mode & S_IWGRP))
        return false;
    std::optional<std::vector<uid_t>> members;
    {
        GroupLookup &lookup = groupLookup();
        std::lock_guard lock(lookup.mutex);
        members = lookup.forTesting ? lookup.forTesting(st.st_gid) : systemGroupMembers(st.st_gid);
    }
    return !members || members->empty()
        || std::any_of(members->begin(), members->end(), [&st](uid_t user) { return user != st.st_uid; });
}

int openInFolder(int folderFd, const QByteArray &folder, QByteArray name, LinkRefusal *refusal, QString *reason)
{
    QList<QByteArray> passed;
    for (int links = 0; links < 8; ++links) {
        // Non-blocking: a FIFO in a module's place must not hold the start.
        const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd >= 0 || errno != ELOOP)
            return fd;
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(folderFd, name.constData(), target, sizeof target);
        if (length <= 0 || size_t(length) >= sizeof target)
            return -1;
        const QByteArray text(target, length);
        const QByteArray next = nameInFolder(folder, text);
        if (next.isEmpty()) {
            *refusal = LinkRefusal::Elsewhere;
            *reason = QStringLiteral("%1/%2 is a link to %3, outside the module folder")
                          .arg(FileNames::fromNative(folder), FileNames::fromNative(name), FileNames::fromNative(text));
            return -1;
        }
        passed << name;
        if (passed.contains(next)) {
            *refusal = LinkRefusal::Loop;
            *reason = QStringLiteral("%1 is a link that leads round in a loop (%2)")
                          .arg(FileNames::fromNative(folder + '/' + passed.constFirst()),
                               FileNames::fromNative((passed + QList<QByteArray> {next}).join(" -> ")));
            return -1;
        }
        name = next;
    }
    *refusal = LinkRefusal::TooMany;
    *reason = QStringLiteral("%1 leads through more than eight links").arg(FileNames::fromNative(folder + '/' + passed.constFirst()));
    return -1;
}

QString untrustedFolderReason(const QString &folder)
{
    if (!QDir::isAbsolutePath(folder))
        return QStringLiteral("%1 is not an absolute path").arg(folder);
    // The folders the path leads through, links followed: a link's target is
    // what may be changed.
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (real.isEmpty())
        return QStringLiteral("%1 cannot be read").arg(folder);
    const QStringList chain = withParents(real);
    for (qsizetype i = 0; i < chain.size(); ++i) {
        struct stat st = {};
        if (::stat(lg::FileNames::toNative(chain[i]).constData(), &st) != 0)
            return QStringLiteral("%1 cannot be read").arg(chain[i]);
        // A sticky folder of root's (like /tmp) lets nobody replace what others
        // put in it; it may hold the folder, but not be it.
        const bool stickyRoot = i > 0 && (st.st_mode & S_ISVTX) && st.st_uid == 0;
        if (!ownedByUs(st))
            return QStringLiteral("%1 belongs to another user").arg(chain[i]);
        if (othersMayWrite(st) && !stickyRoot)
            return QStringLiteral("%1 may be changed by other users").arg(chain[i]);
    }
    return {};
}

void setGroupMembersLookupForTesting(GroupMembersLookup lookup)
{
    GroupLookup &groups = groupLookup();
    std::lock_guard lock(groups.mutex);
    groups.forTesting = std::move(lookup);
}

} // namespace lg::image
