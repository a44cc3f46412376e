#pragma once
// What the program and every codec module agree on by name: the interface
// version, the note that holds a module's build identifier, and each module's
// entry point. The module interfaces themselves are in
// platform/image/ModuleInterfaces.h, which includes this; both are hashed into
// the build identifier (platform/modules/identity/ModuleBuild.cmake).
namespace lg::image {

// Bumped whenever any interface of ModuleInterfaces.h changes.
constexpr int moduleInterfaceVersion = 3;

// The owner name and type of the note that holds a module's build identifier.
inline constexpr char moduleNoteName[] = "LumenGallery";
constexpr unsigned moduleNoteType = 1;

// The exported entry points: const X *NAME(int moduleInterfaceVersion).
inline constexpr char heifEntryPoint[] = "lumengallery_heif_module";
inline constexpr char rawEntryPoint[] = "lumengallery_raw_module";
inline constexpr char magickEntryPoint[] = "lumengallery_magick_module";
inline constexpr char videoEntryPoint[] = "lumengallery_video_module";
inline constexpr char playerEntryPoint[] = "lumengallery_player_module";

} // namespace lg::image
