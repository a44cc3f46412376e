# Includes that would go round the rooms' fences (cmake/Rooms.cmake): a path
# that climbs out of the folder it is looked up in ("../app/x.h",
# "model/../app/x.h", "../fences/see/..." from the build's generated folder),
# an absolute path, or an include whose file is named by a macro. The
# compiler follows all three wherever they lead, so they are looked for in
# the sources themselves.
#
# Run as a script, it checks every file listed in LIST (one path a line) and
# touches STAMP when none has such an include; otherwise it fails, naming each:
#   cmake -DLIST=<file> -DSTAMP=<file> -P cmake/CheckIncludes.cmake
# Included, it defines lg_wrong_includes for the test of the fences.

# lg_wrong_includes(out file...): "<file>:<line>: <why>" for each such include.
function(lg_wrong_includes out)
  set(found)
  foreach(file IN LISTS ARGN)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "^[ \t]*#[ \t]*include(_next)?[ \t]*([<\"])([^>\"]*)[>\"]")
        list(APPEND found "${file}: ${line}: an include names its file itself, never through a macro")
        continue()
      endif()
      set(path "${CMAKE_MATCH_3}")
      if(path MATCHES "^/")
        list(APPEND found "${file}: ${line}: an include names no absolute path; a room's headers are \
reached through the rooms it links")
      elseif(path MATCHES "(^|/)\\.\\.(/|$)")
        list(APPEND found "${file}: ${line}: an include never climbs out of a folder with \"..\": it \
would reach past the fences of the rooms (README.md, folder layout)")
      endif()
    endforeach()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.25)
  file(STRINGS ${LIST} files)
  lg_wrong_includes(found ${files})
  if(found)
    list(JOIN found "\n" text)
    message(FATAL_ERROR "${text}")
  endif()
  file(TOUCH ${STAMP})
endif()
