# The build identifier shared by the program and its codec modules: a hash of
# every header whose types or constants cross between them, of the version,
# the compiler and Qt. A module carries it in an ELF note (ModuleNote.cpp
# here) that the program reads from the file before loading it, so
# a module of another build is refused before any of its code runs. Editing
# one of these headers configures the build again, and so changes the id.
set(LG_MODULE_CROSSING_HEADERS
  platform/image/ModuleInterfaces.h
  platform/modules/ModuleNames.h
  platform/image/Decoders.h
  platform/image/ByteSource.h
  platform/base/Orientation.h
  platform/base/PictureLimits.h)
set(lg_module_text "${PROJECT_VERSION}|${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}|Qt ${Qt6_VERSION}|sanitize ${LG_SANITIZE}")
foreach(header IN LISTS LG_MODULE_CROSSING_HEADERS)
  file(SHA256 ${PROJECT_SOURCE_DIR}/${header} lg_header_hash)
  string(APPEND lg_module_text "|${header} ${lg_header_hash}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${header})
endforeach()
string(SHA256 lg_module_hash "${lg_module_text}")
string(SUBSTRING "${lg_module_hash}" 0 16 lg_module_hash)
set(LG_MODULE_BUILD_ID "${PROJECT_VERSION}+${lg_module_hash}")
# A program in this folder is the build tree's: it searches only this folder.
set(LG_BUILD_MODULE_DIR "${CMAKE_BINARY_DIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ModuleBuild.h.in ${CMAKE_BINARY_DIR}/generated/ModuleBuild.h @ONLY)
