# Installs the build into PREFIX and checks what a desktop and a package need
# there: the program beside its module folder, every module as the build made
# it, the desktop entry, and the icon it names in the hicolor theme (scalable
# and 256 pixels).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(missing)
foreach(file
    bin/lumengallery
    lib/lumengallery/lumengallery_heif.so lib/lumengallery/lumengallery_raw.so
    lib/lumengallery/lumengallery_magick.so lib/lumengallery/lumengallery_video.so
    lib/lumengallery/lumengallery_player.so lib/lumengallery/lumengallery-decoder
    share/applications/lumengallery.desktop
    share/icons/hicolor/scalable/apps/lumengallery.svg
    share/icons/hicolor/256x256/apps/lumengallery.png)
  if(NOT EXISTS ${PREFIX}/${file})
    list(APPEND missing ${file})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "not installed: ${missing}")
endif()

# The program knows each module by the digest of the file the build made: the
# install copies it byte for byte (no run path or symbols rewritten).
foreach(module heif raw magick video player)
  file(SHA256 ${BUILD_DIR}/lumengallery_${module}.so built)
  file(SHA256 ${PREFIX}/lib/lumengallery/lumengallery_${module}.so installed)
  if(NOT built STREQUAL installed)
    message(FATAL_ERROR "the install changed lumengallery_${module}.so: the program would refuse it")
  endif()
endforeach()

# The desktop entry names the icon installed.
file(STRINGS ${PREFIX}/share/applications/lumengallery.desktop icon REGEX "^Icon=")
if(NOT icon STREQUAL "Icon=lumengallery")
  message(FATAL_ERROR "the desktop entry names ${icon}, not the installed icon lumengallery")
endif()

# A PNG's IHDR: width and height, big-endian, at bytes 16 to 23.
file(READ ${PREFIX}/share/icons/hicolor/256x256/apps/lumengallery.png signature LIMIT 8 HEX)
file(READ ${PREFIX}/share/icons/hicolor/256x256/apps/lumengallery.png size OFFSET 16 LIMIT 8 HEX)
if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT size STREQUAL "0000010000000100")
  message(FATAL_ERROR "the 256x256 icon is not a 256 x 256 PNG (${signature}, ${size})")
endif()
file(STRINGS ${PREFIX}/share/icons/hicolor/scalable/apps/lumengallery.svg svg LIMIT_COUNT 1 REGEX "<svg")
if(NOT svg)
  message(FATAL_ERROR "the scalable icon is not an SVG")
endif()
message(STATUS "installed layout checked in ${PREFIX}")
