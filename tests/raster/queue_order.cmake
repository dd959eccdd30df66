qv_add_test(raster_queue_order_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/queue_order_test.cpp
  LIBS qv_raster qv_format qv_runtime WINDOWS_TIMEOUT 60)
