# Each program prints "<name> <version>" for --version and a usage for
# --help, and exits 0 at once. The window program must answer before Qt
# starts: run here without a display, Qt would end it with an error.
# Run by ctest with -DBIN_DIR=... -DVERSION=... -DPROGRAMS=a,b,c
string(REPLACE "," ";" PROGRAMS "${PROGRAMS}")
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
                          "${BIN_DIR}/${program}" --version
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0 OR NOT out STREQUAL "${program} ${VERSION}\n")
    message(FATAL_ERROR "${program} --version: status ${result}, printed '${out}' '${err}'")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
                          "${BIN_DIR}/${program}" --help
                  RESULT_VARIABLE result OUTPUT_VARIABLE out)
  if(NOT result EQUAL 0 OR NOT out MATCHES "^[Uu]sage: ${program} .*--version")
    message(FATAL_ERROR "${program} --help: status ${result}, printed '${out}'")
  endif()
endforeach()
