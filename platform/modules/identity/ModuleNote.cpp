// The build identifier every codec module carries: an ELF note that the
// program reads from the module's file, before loading it, and compares with
// its own (platform/modules/ElfCheck.cpp). Nothing here runs; the note is data in the file.
#include "platform/modules/ModuleNames.h"

#include "ModuleBuild.h"

#include <cstdint>

// A module built to stand for another build (the loader's tests) names its own.
#ifndef LG_MODULE_NOTE_BUILD_ID
#define LG_MODULE_NOTE_BUILD_ID LG_MODULE_BUILD_ID
#endif

namespace {

constexpr std::uint32_t padded(std::uint32_t size)
{
    return (size + 3) & ~3u;
}

struct BuildNote
{
    std::uint32_t nameSize;
    std::uint32_t descriptionSize;
    std::uint32_t type;
    char name[padded(sizeof(lg::image::moduleNoteName))];
    char description[padded(sizeof(LG_MODULE_NOTE_BUILD_ID))];
};

} // namespace

// In a note section of its own, which the linker puts in a PT_NOTE segment.
__attribute__((section(".note.lumengallery"), used, aligned(4)))
const BuildNote lumengalleryBuildNote = {
    sizeof(lg::image::moduleNoteName), sizeof(LG_MODULE_NOTE_BUILD_ID), lg::image::moduleNoteType,
    "LumenGallery", LG_MODULE_NOTE_BUILD_ID};
