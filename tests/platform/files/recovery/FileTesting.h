#pragma once
// What the tests of the file layer share: a folder's entries, an injected
// fault for a while, and file work as an ordinary user in tests that run as
// root (who may write anywhere and passes every permission check): the
// file-system user of this thread becomes "nobody" for a while, and folders
// can be handed to it. Both do nothing when the tests run as an ordinary user
// already.
#include "platform/files/operations/FileOperations.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg::test {

// Every entry of folder, hidden ones included, sorted.
inline QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// The fault hook, set for the guard's life.
struct FaultGuard
{
    explicit FaultGuard(lg::FileFaultHook hook) { lg::setFileFaultForTesting(std::move(hook)); }
    ~FaultGuard() { lg::setFileFaultForTesting({}); }
    FaultGuard(const FaultGuard &) = delete;
    FaultGuard &operator=(const FaultGuard &) = delete;
};

constexpr uid_t nobody = 65534;

struct AsOrdinaryUser
{
    explicit AsOrdinaryUser(bool really = true) : m_really(really)
    {
        if (m_really && ::geteuid() == 0) {
            ::setfsgid(nobody);
            ::setfsuid(nobody);
        }
    }
    ~AsOrdinaryUser()
    {
        if (m_really && ::geteuid() == 0) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    AsOrdinaryUser(const AsOrdinaryUser &) = delete;
    AsOrdinaryUser &operator=(const AsOrdinaryUser &) = delete;

private:
    bool m_really = true;
};

// Hands root and all below it to the ordinary user and lets it through the
// folders above (the private HOME is 0700).
inline void handOver(const QString &root)
{
    if (::geteuid() != 0)
        return;
    const auto raw = [](const QString &path) { return QFile::encodeName(path); };
    for (QString up = QFileInfo(root).absolutePath(); up != QLatin1String("/") && !up.isEmpty();
         up = QFileInfo(up).absolutePath()) {
        struct stat st;
        if (::stat(raw(up).constData(), &st) == 0)
            ::chmod(raw(up).constData(), (st.st_mode & 07777) | 0011);
    }
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    ::lchown(raw(root).constData(), nobody, nobody);
    while (it.hasNext())
        ::lchown(raw(it.next()).constData(), nobody, nobody);
}

} // namespace lg::test
