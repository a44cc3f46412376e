# The rooms the compiler keeps. A room is a source folder (platform/base,
# model, controls, the screens, a test folder); its target sees the headers of
# its own folder and of the rooms it links, and of Qt only the modules it links:
#
#  - No target of a room has the project root on its include path. Each room
#    folder is seen through a folder of its own in the build tree,
#    fences/see/<room>/, which holds only a link to that folder; a room's
#    library names it as a PUBLIC include directory, so whoever links the room
#    sees it and nobody else does.
#  - For every room it does not link, a target gets fences/above/<room>/: each
#    header of that room there is a file that stops the compiler with a
#    message naming the room. The same for every Qt module it does not link
#    (fences/qt/<Module>/), which would otherwise be reached through Qt's own
#    include root (<QtWidgets/QWidget>).
#  - A header that no source beside it includes is compiled on its own within
#    its room, so a header-only reach-up fails too.
#  - No include climbs out of the folders it is looked up in ("../app/x.h",
#    "model/../app/x.h") or names an absolute path: cmake/CheckIncludes.cmake
#    looks at every source of the project as the build's first step.
#
# lg_room(target folder...) registers a target; lg_fence_rooms() (called once
# every target and its links exist) gives each registered target its fences.

set(LG_FENCE_DIR ${CMAKE_BINARY_DIR}/fences)
set_property(GLOBAL PROPERTY LG_ROOM_TARGETS "")
set_property(GLOBAL PROPERTY LG_ROOM_FOLDERS "")

# The Qt include root (the folder that holds QtCore/, QtGui/ ...).
get_target_property(lg_qt_core_includes Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
set(LG_QT_INCLUDE_ROOT)
foreach(dir IN LISTS lg_qt_core_includes)
  if(EXISTS ${dir}/QtCore AND IS_DIRECTORY ${dir}/QtCore)
    set(LG_QT_INCLUDE_ROOT ${dir})
  endif()
endforeach()

# fences/see/<name>/<folder> -> the source folder.
function(lg_room_see_dir folder out)
  string(REPLACE "/" "_" name ${folder})
  set(see ${LG_FENCE_DIR}/see/${name})
  if(NOT EXISTS ${see}/${folder})
    get_filename_component(parent ${see}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${see}/${folder} SYMBOLIC)
  endif()
  set(${out} ${see} PARENT_SCOPE)
endfunction()

# lg_room(target folder... [PRIVATE]): target's sources stand in these folders;
# whoever links target sees them too unless PRIVATE is given (executables).
function(lg_room target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "PRIVATE" "" "")
  set(scope PUBLIC)
  if(arg_PRIVATE)
    set(scope PRIVATE)
  endif()
  foreach(folder IN LISTS arg_UNPARSED_ARGUMENTS)
    lg_room_see_dir(${folder} see)
    target_include_directories(${target} ${scope} ${see})
    set_property(GLOBAL APPEND PROPERTY LG_ROOM_FOLDERS ${folder})
  endforeach()
  set_property(TARGET ${target} PROPERTY LG_ROOM_OWN ${arg_UNPARSED_ARGUMENTS})
  set_property(GLOBAL APPEND PROPERTY LG_ROOM_TARGETS ${target})
endfunction()

# The unit that compiles header on its own (fences/headers/<name>.cpp).
function(lg_room_header_unit header out)
  string(REPLACE "/" "_" name ${header})
  set(unit ${LG_FENCE_DIR}/headers/${name}.cpp)
  set(text "// The header on its own, within its room (cmake/Rooms.cmake).\n#include \"${header}\"\n")
  if(EXISTS ${unit})
    file(READ ${unit} old)
  else()
    set(old "")
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${unit} "${text}")
  endif()
  set(${out} ${unit} PARENT_SCOPE)
endfunction()

# lg_room_headers(target folder [out]): each header of folder and its
# sub-folders that no source of the same name beside it includes becomes a
# source of target of its own (a header whose source passes it by, used only
# by a room above, is compiled within its room all the same); out names the
# units. The test of the fences looks again at the sources as they are now.
function(lg_room_headers target folder)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  set(units)
  foreach(header IN LISTS headers)
    string(REGEX REPLACE "\\.h$" ".cpp" source ${header})
    if(EXISTS ${PROJECT_SOURCE_DIR}/${source})
      file(STRINGS ${PROJECT_SOURCE_DIR}/${source} own REGEX "^[ \t]*#[ \t]*include[ \t]*\"${header}\"")
      if(own)
        continue()
      endif()
    endif()
    lg_room_header_unit(${header} unit)
    target_sources(${target} PRIVATE ${unit})
    list(APPEND units ${unit})
  endforeach()
  if(ARGC GREATER 2)
    set(${ARGV2} ${units} PARENT_SCOPE)
  endif()
endfunction()

# The targets and Qt modules that target links, the way their headers reach it
# (what is linked only, $<LINK_ONLY:...>, gives no headers).
function(lg_room_closure target targets_out qt_out)
  set(seen)
  set(qt)
  set(todo ${target})
  while(todo)
    list(POP_FRONT todo current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    if(current MATCHES "^Qt6?::([A-Za-z]+)$")
      string(REGEX REPLACE "Private$" "" module ${CMAKE_MATCH_1})
      list(APPEND qt Qt${module})
    endif()
    if(NOT TARGET ${current})
      continue()
    endif()
    get_target_property(imported ${current} IMPORTED)
    get_target_property(kind ${current} TYPE)
    set(links)
    # What the target itself links privately counts for its own sources only.
    if(current STREQUAL target AND NOT imported AND NOT kind STREQUAL "INTERFACE_LIBRARY")
      get_target_property(own ${current} LINK_LIBRARIES)
      if(own)
        list(APPEND links ${own})
      endif()
    endif()
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      if(link MATCHES "LINK_ONLY")
        continue()
      endif()
      string(REGEX REPLACE "^\\$<LINK_GROUP:[A-Z_]+," "" link "${link}")
      string(REGEX REPLACE ">$" "" link "${link}")
      if(TARGET ${link})
        get_target_property(aliased ${link} ALIASED_TARGET)
        if(aliased)
          set(link ${aliased})
        endif()
        list(APPEND todo ${link})
      elseif(link MATCHES "^Qt6?::")
        list(APPEND todo ${link})
      endif()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES qt)
  set(${targets_out} ${seen} PARENT_SCOPE)
  set(${qt_out} ${qt} PARENT_SCOPE)
endfunction()

# fences/above/<name>/<folder>/<header>: stops the compiler; a header of a
# sub-folder of the room (platform/files/names/...) too.
function(lg_room_above_dir folder out)
  string(REPLACE "/" "_" name ${folder})
  set(above ${LG_FENCE_DIR}/above/${name})
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  foreach(header IN LISTS headers)
    set(text "#error \"${header} stands in ${folder}/, a room that the including room neither is nor links: \
a room includes only its own headers and those of the rooms below it (README.md, folder layout)\"\n")
    if(NOT EXISTS ${above}/${header})
      file(WRITE ${above}/${header} "${text}")
    endif()
  endforeach()
  set(${out} ${above} PARENT_SCOPE)
endfunction()

# fences/qt/<Module>/<Module>/<header>: stops the compiler.
function(lg_room_qt_dir module out)
  set(fence ${LG_FENCE_DIR}/qt/${module})
  if(NOT EXISTS ${fence}/${module}/.complete)
    file(GLOB headers RELATIVE ${LG_QT_INCLUDE_ROOT}/${module} ${LG_QT_INCLUDE_ROOT}/${module}/*)
    foreach(header IN LISTS headers)
      if(NOT IS_DIRECTORY ${LG_QT_INCLUDE_ROOT}/${module}/${header})
        file(WRITE ${fence}/${module}/${header}
          "#error \"${module}/${header} is Qt's ${module} module, which the including room does not link\"\n")
      endif()
    endforeach()
    file(WRITE ${fence}/${module}/.complete "")
  endif()
  set(${out} ${fence} PARENT_SCOPE)
endfunction()

function(lg_fence_rooms)
  get_property(targets GLOBAL PROPERTY LG_ROOM_TARGETS)
  get_property(folders GLOBAL PROPERTY LG_ROOM_FOLDERS)
  list(REMOVE_DUPLICATES folders)
  file(GLOB qt_modules RELATIVE ${LG_QT_INCLUDE_ROOT} ${LG_QT_INCLUDE_ROOT}/Qt*)
  foreach(target IN LISTS targets)
    lg_room_closure(${target} linked linked_qt)
    set(seen_folders)
    foreach(other IN LISTS linked)
      if(TARGET ${other})
        get_target_property(own ${other} LG_ROOM_OWN)
        if(own)
          list(APPEND seen_folders ${own})
        endif()
      endif()
    endforeach()
    set(fences)
    foreach(folder IN LISTS folders)
      if(NOT folder IN_LIST seen_folders)
        lg_room_above_dir(${folder} above)
        list(APPEND fences ${above})
      endif()
    endforeach()
    foreach(module IN LISTS qt_modules)
      if(IS_DIRECTORY ${LG_QT_INCLUDE_ROOT}/${module} AND NOT module IN_LIST linked_qt)
        lg_room_qt_dir(${module} fence)
        list(APPEND fences ${fence})
      endif()
    endforeach()
    if(fences)
      target_include_directories(${target} BEFORE PRIVATE ${fences})
    endif()
  endforeach()
endfunction()

# The build's first step looks at the includes of every source of the project
# (but the probes of the test of the fences, tests/rooms/): none climbs out of
# its folder, names an absolute path or a macro (cmake/CheckIncludes.cmake).
# The list stands in fences/sources.txt.
function(lg_check_includes)
  set(globs)
  foreach(folder IN LISTS ARGN)
    list(APPEND globs ${PROJECT_SOURCE_DIR}/${folder}/*.cpp ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  endforeach()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${globs})
  list(FILTER sources EXCLUDE REGEX "^${PROJECT_SOURCE_DIR}/tests/rooms/")
  list(SORT sources)
  list(JOIN sources "\n" text)
  set(list ${LG_FENCE_DIR}/sources.txt)
  if(EXISTS ${list})
    file(READ ${list} old)
  else()
    set(old "")
  endif()
  if(NOT old STREQUAL "${text}\n")
    file(WRITE ${list} "${text}\n")
  endif()
  set(stamp ${LG_FENCE_DIR}/includes.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DLIST=${list} -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    DEPENDS ${sources} ${list} ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake
    COMMENT "Looking at the includes of every source" VERBATIM)
  add_custom_target(lg_check_includes ALL DEPENDS ${stamp})
endfunction()
