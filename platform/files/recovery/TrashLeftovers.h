#pragma once
// The home Trash, and what a Trash command that a kill stopped leaves in a
// Trash: the .trashinfo this program writes, known by a key of its own, and
// the removal of one that names nothing, by the cleanup of leftovers
// (Temporaries.cpp) and by Trash.cpp. Trash.h is the way in from outside
// platform/files; the rest here is for this room only.
#include <QByteArray>
#include <QString>

#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

class QDateTime;

namespace lg {

// The home Trash, $XDG_DATA_HOME/Trash (not made here).
QString homeTrashFolder();

namespace temporaries {

// An open file descriptor, closed with its owner.
class Handle
{
public:
    Handle() = default;
    explicit Handle(int fd) : m_fd(fd) {}
    Handle(Handle &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Handle &operator=(Handle &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { reset(); }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int fd() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// The stamp (device, inode, size and modification time) of
// info/<name>.trashinfo of the home Trash whose files/ is open as filesFd,
// when it is user's plain file and nothing stands under name in files/ yet:
// the information made for an item about to be copied there; empty otherwise.
QByteArray trashInfoStamp(int filesFd, const QByteArray &name, uid_t user);
// Removes info/<name>.trashinfo of an unfinished copy into the home Trash
// whose files/ is open as filesFd when it is still exactly the one stamped
// (trashInfoStamp) and no item stands under name.
void removeTrashInfo(int filesFd, const QByteArray &name, const QByteArray &stamp, uid_t user);

// The text of the .trashinfo this program writes for originalPath, trashed at when.
QString trashInfoText(const QString &originalPath, const QDateTime &when);

// The .trashinfo of name in the Trash whose files/ and info/ are open as
// filesFd and infoFd, left by a process killed between making it and bringing
// its item (or the copy's lock) in, goes (with an empty placeholder that holds
// the name in files/): only when it is exactly as this program writes it (or
// empty: a kill came between its making and its writing), the
// user's, from before this process began, not held by its maker (who keeps it
// locked until its item is in), with no item under name in files/ and no
// temporary of ours for it there. filesNames, when given, is what files/
// holds. True when it went.
bool removeOrphanInfoAt(int filesFd, int infoFd, const QByteArray &name,
                        const std::vector<QByteArray> *filesNames = nullptr);

// The .trashinfo files of the Trash whose files/ is open as filesFd (at
// filesPath) that a killed process of ours left without their items go (see
// removeOrphanInfoAt); any other folder is left alone.
void removeOrphanTrashInfos(int filesFd, const QByteArray &filesPath);

} // namespace temporaries

} // namespace lg
