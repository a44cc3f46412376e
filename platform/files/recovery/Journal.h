#pragma once
// The journal of folders that hold our temporaries, and the start-up cleanup of
// the folders that dead processes' entries name.
//
// The journal: before the first temporary in a folder, a small entry naming
// that folder is written and synced in the user's state folder
// ($XDG_STATE_HOME/lumengallery/temporaries) and held locked by this process;
// it is removed once nothing of ours is left there (the last few folders'
// entries stay until they are the oldest of too many, or the process ends,
// so that a batch into one folder syncs once). An entry goes only once what
// it names is gone: no way out of the process (a return from main(), exit()
// from anywhere, a lost display) removes the entry of a folder that still
// holds a temporary in use or something of ours left. An entry names the disk
// its folder is on (where that is mounted, its device, the part mounted, and
// the file system's own identity, by which it is found wherever it is
// mounted later: the UUID that /dev/disk/by-uuid gives its device, or the
// block device a FUSE mount was made from, else its statfs file-system id).
// A disk mounted where one was recorded counts as that disk only when its
// volume is the one recorded, so another card of the same make at the same
// place is never taken for it: a folder whose own volume is not there is not
// touched, and its entry waits. Once the first window is up, the folders that dead
// processes' entries name are cleaned, each on a thread of its own that no
// quit waits for (a folder that blocks holds up only itself), and again
// whenever a disk is mounted; each entry goes once its folder holds nothing
// of ours, or is gone while its disk is there, or has been missing for 30
// days. Nothing is written into any other folder.
//
// Any thread, unless said otherwise. Nothing is shown to the user here.
#include <QtGlobal>

class QObject;

#include <functional>

namespace lg {

// Cleans every folder that the journal entries of processes no longer
// running name, each on a thread of its own, and drops the entries whose
// folders hold nothing of ours any more; returns once those threads have
// ended. A folder whose disk is mounted at another place than the one
// recorded (a card back under another name) is cleaned there, and its entry
// settled alike. An entry whose folder is missing stays while the disk it was
// on is not mounted (an unplugged card, a share not mounted yet; an entry of
// an older version, which does not name its disk, alike), for at most 30
// days; one whose folder is gone while its disk is there goes. Stops between
// folders once the shutdown has begun; what it did not finish stays in the
// journal.
void cleanFoldersLeftByKilledRuns();
// The same on threads of their own that no quit and no start waits for (a
// folder that blocks in the kernel holds up only its own thread); called once
// the first window is up. Afterwards (main thread only) every change of the mount
// table starts it again, so a disk that comes back gets its look.
void startCleaningFoldersLeftByKilledRuns();
// Main thread: fn runs on the main thread after every change of the mount
// table (a disk mounted or unmounted) while context lives, once the call
// above has begun to watch the table; nothing before that, nor once the
// shutdown has begun.
void onMountTableChange(const QObject *context, std::function<void()> fn);
// A run started above, or a folder's thread of it, is still going.
bool isCleaningFoldersLeftByKilledRunsForTesting();
// Tests: the clock (ms) by which a folder that has not answered for a few
// seconds stops counting against the limit of folders cleaned at once; empty
// puts the steady clock back.
void setFolderCleanupClockForTesting(std::function<qint64()> nowMs);

} // namespace lg
