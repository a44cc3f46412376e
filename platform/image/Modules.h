#pragma once
// Finds and opens the codec modules (ModuleInterfaces.h) the first time a file
// needs one, so that a folder of JPEGs never maps ImageMagick, LibRaw,
// libheif, FFmpeg or Qt Multimedia. Any thread may ask; the first load of a
// module is done once, by the first thread that asks, while others wait.
// A module that cannot be found, opened or that answers another interface
// version gives null, and one line in the log says which and why; the
// callers then treat the file as one they cannot read (its type's icon).
#include <QString>
#include <QStringList>

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

// The module's file name ("lumengallery_heif.so").
QString moduleFileName(Module module);
// True once the module has been loaded in this process.
bool moduleLoaded(Module module);
// Why the module could not be loaded; empty when it was, or was not tried.
QString moduleError(Module module);

// The folders searched, in order: lib/lumengallery beside the executable's
// folder (the installed program), the executable's own folder (the build
// tree), then the folders added here (the build tree, for test and benchmark
// programs that live elsewhere).
void addModuleFolder(const QString &folder);
QStringList moduleFolders();
// Tests: search only these folders from now on and forget what was loaded or
// refused (loaded libraries stay mapped); an empty list restores the defaults.
void setModuleFoldersForTesting(const QStringList &folders);

} // namespace lg::image
