# Installs the build into a fresh prefix and checks that the program, the
# report library, the icon and the desktop entry land where a desktop finds
# them, and that the installed program looks for the library beside bin.
# Run by ctest with -DBUILD_DIR=... -DPREFIX=...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
include(GNUInstallDirs)
set(expected
  "bin/zorvath-downloader"
  "${CMAKE_INSTALL_LIBDIR}/libsysrep.so"
  "share/applications/zorvath-downloader.desktop"
  "share/icons/hicolor/16x16/apps/zorvath-downloader.png"
  "share/icons/hicolor/48x48/apps/zorvath-downloader.png"
  "share/icons/hicolor/256x256/apps/zorvath-downloader.png")
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(READ "${PREFIX}/share/applications/zorvath-downloader.desktop" entry)
foreach(line "Exec=zorvath-downloader" "Icon=zorvath-downloader" "Type=Application")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "desktop entry lacks ${line}")
  endif()
endforeach()
execute_process(COMMAND readelf -d "${PREFIX}/bin/zorvath-downloader" OUTPUT_VARIABLE dynamic)
string(FIND "${dynamic}" "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}" at)
if(at LESS 0)
  message(FATAL_ERROR "the installed program does not look in ../${CMAKE_INSTALL_LIBDIR}: ${dynamic}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
