# cmake -D PROGRAM=<exe> [-D EMULATOR=<wine>] -D EXPECTED=<line> -P version_check.cmake
# The program run with --version prints exactly EXPECTED and ends with 0.
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --version RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" out "${out}")
if(NOT rc EQUAL 0 OR NOT out STREQUAL "${EXPECTED}\n")
  message(FATAL_ERROR "${PROGRAM} --version: exit code ${rc}, output [${out}], errors [${err}]")
endif()
message("${PROGRAM} --version: ${out}")
