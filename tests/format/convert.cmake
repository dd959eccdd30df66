# Element conversion between formats.
qv_add_test(format_convert_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/convert_test.cpp
  LIBS qv_format WINDOWS_TIMEOUT 60)
