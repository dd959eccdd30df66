qv_add_test(raster_tile_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tile_depth_test.cpp ${CMAKE_CURRENT_LIST_DIR}/tile_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/tile_text_test.cpp ${CMAKE_CURRENT_LIST_DIR}/raster_harness.cpp
  LIBS qv_raster qv_format qv_runtime WINDOWS_TIMEOUT 180)
qv_add_test(raster_tile_stress LABELS stress
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tile_stress_test.cpp ${CMAKE_CURRENT_LIST_DIR}/raster_harness.cpp
  LIBS qv_raster qv_format qv_runtime TIMEOUT 300 WINDOWS_TIMEOUT 240)
