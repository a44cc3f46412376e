#pragma once
// Finds the codec modules (ModuleInterfaces.h) once, at start, and loads one the
// first time a file needs it, so that a folder of JPEGs never maps ImageMagick,
// LibRaw, libheif, FFmpeg or Qt Multimedia.
//
// Where: an installed program (<prefix>/bin) searches only <prefix>/lib/lumengallery,
// the program in its build tree only its own folder; both are worked out from
// the executable's absolute path before main(), never from the current folder.
// A folder that users other than root and the program's user may change (or
// whose parents they may, short of a sticky root-owned one like /tmp), and a
// module file they may change, are not used; a group may write them only when
// nobody but their owner is in it (OpenSSH's rule for its own files). A folder
// is opened once, and what is checked is the real path of that handle. A module
// file that is a link is followed only to a file of the same folder. Each
// module file found is held open from start and read through that handle, so
// an update that replaces the files on disk while the program runs changes
// nothing it loads.
//
// Trust: a module is known by what the loader maps and runs of it: the build
// records that digest for every module file it makes (LoadedDigest.h), so a
// package's strip or debug split keeps a module usable while one changed
// loaded byte is refused. A file larger than any module the build makes is
// refused unread. Before any code of a module runs, the bytes of the handle
// held are read once, checked as an ELF shared object of this machine whose
// segments all lie inside the file, its build note compared with the
// program's, and their digest with the build's; those very bytes are then
// loaded (ModuleCopy.h: a sealed memory copy, by a name a debugger can open)
// with every symbol resolved, so a missing one fails the load instead of the
// program. The digest is made on the thread that first needs the module (the
// background preload, for the screens), never at start.
//
// Threads: any thread may ask. Each module has a lock of its own: the first
// load of a module is done once, by the first thread that asks, while others
// that need that module wait; a load never waits for another module's.
// A module that cannot be used gives null, one line in the log says which and
// why, and the problem handler (setModuleProblemHandler) hears once, in words
// for the window, which files cannot be shown; callers then treat the files as
// ones they cannot read (their type's icon). The first refusal checks every
// module not yet loaded as well (short of loading it), so that the modules
// refused for one cause are told together; problems found while other loads
// are under way are told with theirs, once the last of them ends.
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace lg::image {

class HeifModule;
class RawModule;
class MagickModule;
class VideoModule;
class PlayerModule;

enum class Module { Heif, Raw, Magick, Video, Player };

const HeifModule *heifModule();
const RawModule *rawModule();
const MagickModule *magickModule();
const VideoModule *videoModule();
const PlayerModule *playerModule();   // loads on any thread; its calls: main thread

// Starts loading the module on a thread of its own and returns at once; does
// nothing when it is loaded, refused, or already being loaded. A later ask
// (heifModule() ...) then finds it ready, or waits only for the rest of that load.
void preloadModule(Module module);

// For a process about to give up writing files and reading who owns them as
// they are (a decode worker, before it confines itself: image/DecodeWorkers.h):
// where the system runs no code from memory files, loads now every module but
// the player, from copies of their files as the program does; elsewhere does
// nothing, and they load when first needed. Blocks until done.
void loadModulesBeforeConfinement();

// The module's file name ("lumengallery_heif.so").
QString moduleFileName(Module module);
// True once the module has been loaded in this process.
bool moduleLoaded(Module module);
// Why the module could not be loaded; empty when it was, or was not tried.
QString moduleError(Module module);
// The error of a call that needed the module while it cannot be used:
// "<library> is not available here", then moduleError() when there is one.
QString moduleUnavailableMessage(Module module);

// What the window says about a module that cannot be used: title names the
// files that cannot be shown ("HEIC and AVIF pictures cannot be shown"), text
// why (reason) and what may help (advice, empty when nothing does).
struct ModuleProblem
{
    Module module;
    QString title;
    QString text;     // reason, then advice
    QString reason;
    QString advice;
};
// Called with the problems told together, each module once a run, on the
// thread whose load ended last, without a lock held; problems found before it
// was set are handed to it at once. An empty handler stops the calls.
void setModuleProblemHandler(std::function<void(const QList<ModuleProblem> &)> handler);

// The module folder of the program at executable (an absolute path): its own
// folder in the build tree (buildFolder), else lib/lumengallery beside its
// bin folder.
QString moduleFolderForProgram(const QString &executable, const QString &buildFolder);
// Why modules in folder may not be trusted (users other than root and ours may
// change it or a parent); empty when they may.
QString untrustedFolderReason(const QString &folder);

// Adds a folder searched after the program's own, for modules not found there
// (the build tree, for test and benchmark programs that live elsewhere). Its
// module files are opened now. An absolute path; others are ignored.
void addModuleFolder(const QString &folder);
// The folders searched for modules now, in order (absolute paths): where the
// decode workers' program is found too (image/DecodeWorkers.h).
QStringList moduleFolders();
// Tests: search only these folders from now on (opened now) and forget what
// was loaded, refused or told (loaded libraries stay mapped); an empty list
// restores the defaults.
void setModuleFoldersForTesting(const QStringList &folders);
// Tests: called inside every load, with that module's lock held, before its
// file is read; empty clears it.
void setModuleLoadHookForTesting(std::function<void(Module)> hook);
// Tests: called inside a load once the module file's size and times were
// taken, right before its bytes are read; empty clears it.
void setModuleReadHookForTesting(std::function<void(Module)> hook);
// Tests: called inside a load once the module's bytes were checked and found
// this build's, right before they are loaded; empty clears it.
void setModuleCheckedHookForTesting(std::function<void(Module)> hook);
// Tests: a module file of this name with what the loader maps of module (its
// bytes) is of this build too (a stand-in module), for the rest of the run.
void acceptModuleForTesting(const QString &fileName, const QByteArray &module);
// Tests: from now on, behave as a system that refuses to run code from memory
// files (true), or as this one (false) (ModuleCopy.h).
void setExecutableMemoryRefusedForTesting(bool refused);

// The users in a group: its members by name and those whose primary group it
// is; none when the group is unknown.
using GroupMembersLookup = std::function<std::optional<std::vector<uid_t>>(gid_t group)>;
// Tests: looks groups up here instead of in the system's lists; empty restores them.
void setGroupMembersLookupForTesting(GroupMembersLookup lookup);

} // namespace lg::image
