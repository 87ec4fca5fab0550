# Installs the build into a fresh prefix and checks that the programs, the
# report library, manual pages, completion, icon, desktop entry and metadata
# land where a desktop and a shell find them, and that each installed program
# looks for the report library in its private folder.
# Run by ctest with -DBUILD_DIR=... -DPREFIX=... -DPRIVATE_LIBDIR=...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(programs zorvath-downloader zorvath-cli zorvath-publish)
set(expected
  "${PRIVATE_LIBDIR}/libsysrep.so"
  "share/applications/zorvath-downloader.desktop"
  "share/icons/hicolor/16x16/apps/zorvath-downloader.png"
  "share/icons/hicolor/48x48/apps/zorvath-downloader.png"
  "share/icons/hicolor/256x256/apps/zorvath-downloader.png"
  "share/metainfo/org.zorvath.downloader.metainfo.xml"
  "share/bash-completion/completions/zorvath-cli"
  "share/bash-completion/completions/zorvath-publish"
  "share/doc/zorvath-downloader/copyright"
  "share/doc/zorvath-downloader/changelog.gz")
foreach(program IN LISTS programs)
  list(APPEND expected "bin/${program}" "share/man/man1/${program}.1.gz")
endforeach()
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(GLOB stray "${PREFIX}/lib/libsysrep.so" "${PREFIX}/bin/libsysrep.so" "${PREFIX}/lib/*/libsysrep.so")
if(stray)
  message(FATAL_ERROR "libsysrep.so outside its private folder: ${stray}")
endif()
file(READ "${PREFIX}/share/applications/zorvath-downloader.desktop" entry)
foreach(line "Exec=zorvath-downloader" "Icon=zorvath-downloader" "Type=Application")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "desktop entry lacks ${line}")
  endif()
endforeach()
foreach(program IN LISTS programs)
  execute_process(COMMAND readelf -d "${PREFIX}/bin/${program}" OUTPUT_VARIABLE dynamic)
  if(NOT dynamic MATCHES "RUNPATH[^\n]*\\[\\$ORIGIN/\\.\\./${PRIVATE_LIBDIR}\\]")
    message(FATAL_ERROR "installed ${program} does not look in ../${PRIVATE_LIBDIR} alone: ${dynamic}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
