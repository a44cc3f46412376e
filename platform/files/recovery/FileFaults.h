#pragma once
// What every part of the file layer shares beneath the commands: the words for
// an errno value that stopped a file step, and the fault hook by which tests
// make a step fail. Any thread.
#include <QString>

#include <functional>

namespace lg {

// Why an errno value stopped a file step, in words for the user, never the
// system's own text ("Operation not permitted"): a clause ("the disk refused
// the change") to go inside a sentence, or a sentence of its own.
QString errnoClause(int err);
QString errnoSentence(int err);

// ---- Fault injection for tests ----
// Swap: the one-step exchange of a replaced folder (EINVAL makes it set the old
// one aside instead, as on file systems that cannot swap). Remove: an entry is
// about to be examined for its removal; EnterFolder: a folder to be removed has
// been examined and is about to be opened. Measure: an entry is about to be
// measured. NoReplaceRename: a rename that must not replace is about to be made
// (EINVAL there: as on file systems without RENAME_NOREPLACE); NoReplaceFallback:
// such a file system's way that cannot replace is about to be taken. Exchanged:
// a replaced folder has just been exchanged with its new one (the answer is
// not used). OpenFolder: the cleanup of what killed runs left is about to open
// a folder (a hook that blocks there stands for a share whose server is away).
// MountFlag:
// the kernel is about to be asked whether a folder is a mount's top (an error
// there: as on kernels that cannot tell); MountTable: the mount table is about
// to be read. CopyAttributes: an entry's extended attributes are about to be
// put on its copy (an errno value there: as if the target refused each one).
// HardLink: a further name of a file already copied is about to be linked to
// that copy (an errno value there: as on file systems without hard links).
// Truncate: a file's size is about to be set with ftruncate (a lock record,
// a sparse copy that ends in a hole); SetMode: a copy is about to be given
// its permissions (an errno value at either: as on a FUSE FAT driver that
// refuses them). PlaceholderRename: an item is about to be renamed onto its
// placeholder, or into the name its placeholder held (EPERM there: as a FUSE
// FAT driver refuses a rename onto an empty folder). TrashInfoMade: a
// .trashinfo has just been made, still empty, and is about to be written
// (the answer is not used). CopiedStretch: a stretch of a sparse file's data
// has just been copied (the answer is not used). MakeFile: a file's copy is
// about to be made under its name (an errno value there: as if the disk
// refused it). CopiedChunk: a chunk of a file's bytes (up to 16 MiB, 4 MiB in
// a move across disks, 1 MiB where they pass through the process) has just
// been copied (the answer is not used). Sync: a file or folder is about to be
// synced to disk (a move's copy, the folder that names moved copies, the
// folder of the moves' notes; an errno value there: as if the disk failed it).
// PlaceholderFilled: an entry has just been moved into a placeholder folder
// being filled; PlaceholderUnmarked: a card's placeholder folder has just
// lost its marker, right before the rename onto it (the answer is not used
// at either).
enum class FileStep {
    Rename, CopyData, MakeFolder, MakeLink, Remove, FinalRename, Swap, EnterFolder,
    Measure, NoReplaceRename, NoReplaceFallback, MountFlag, MountTable, CopyAttributes, HardLink, Exchanged,
    OpenFolder, PlaceholderMade, Truncate, SetMode, PlaceholderRename, TrashInfoMade,
    CopiedStretch, MakeFile, CopiedChunk, Sync, PlaceholderFilled, PlaceholderUnmarked,
};
// hook returns 0 to let the step run, or an errno value to make it fail there.
using FileFaultHook = std::function<int(FileStep step, const QString &path)>;
void setFileFaultForTesting(FileFaultHook hook);   // empty clears it
// What the hook says for step at path: 0 without a hook. The parts of this
// layer (copies, removal, temporaries) ask it before each step.
int injectedFileFault(FileStep step, const QString &path);

} // namespace lg
