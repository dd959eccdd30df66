# Surfaces: set-up, texel functions and sampling.
if(WIN32)
  set(surface_guard_source ${CMAKE_CURRENT_LIST_DIR}/guarded_memory_win32.cpp)
else()
  set(surface_guard_source ${CMAKE_CURRENT_LIST_DIR}/guarded_memory_posix.cpp)
endif()
qv_add_test(format_surface_test LABELS unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/surface_setup_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/surface_texel_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/surface_sample_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/surface_harness.cpp
    ${surface_guard_source}
  LIBS qv_format
  TIMEOUT 300 WINDOWS_TIMEOUT 90)
