# GoogleTest: Debian's packaged library on Linux; compiled from Debian's
# sources for the MinGW build, which has no packaged copy.
if(QV_GTEST_FROM_SOURCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # googletest 1.12 defines the GTest:: aliases itself.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
  endif()
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# qv_add_test(<name> LABELS <label>... SOURCES <file>... LIBS <target>...
#             [TIMEOUT s] [WINDOWS_TIMEOUT s])
# One CTest entry per executable; the executable runs every case it holds.
# TIMEOUT must also hold the sanitizer builds, many times slower. The
# Windows programs run under Wine, where a test program that deadlocks is
# told from one that is only slow by its timeout: WINDOWS_TIMEOUT, when
# given, replaces TIMEOUT there and sits near the program's normal time
# (about ten times it, for a loaded 2-core machine).
function(qv_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT;WINDOWS_TIMEOUT" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main qv_options)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(WIN32 AND T_WINDOWS_TIMEOUT)
    set(T_TIMEOUT ${T_WINDOWS_TIMEOUT})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()
