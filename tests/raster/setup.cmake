set(QV_RASTER_HARNESS ${CMAKE_CURRENT_LIST_DIR}/raster_harness.cpp)
qv_add_test(raster_setup_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/setup_test.cpp ${CMAKE_CURRENT_LIST_DIR}/viewport_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/list_sort_test.cpp ${CMAKE_CURRENT_LIST_DIR}/watertight_test.cpp ${QV_RASTER_HARNESS}
  LIBS qv_raster qv_format qv_runtime WINDOWS_TIMEOUT 60)
qv_add_test(raster_setup_exhaustive LABELS exhaustive
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/setup_exhaustive_test.cpp ${QV_RASTER_HARNESS}
  LIBS qv_raster qv_format qv_runtime TIMEOUT 900)
qv_add_test(raster_walk_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/walk_test.cpp
            LIBS qv_raster qv_format qv_runtime WINDOWS_TIMEOUT 60)
