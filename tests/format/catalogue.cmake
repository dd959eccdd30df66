# Format catalogue and component encodings.
qv_add_test(format_catalogue_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/catalogue_test.cpp ${CMAKE_CURRENT_LIST_DIR}/encode_test.cpp
  LIBS qv_format WINDOWS_TIMEOUT 60)
qv_add_test(format_half_exhaustive_test LABELS exhaustive
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/half_exhaustive_test.cpp
  LIBS qv_format TIMEOUT 300)
