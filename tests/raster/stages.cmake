qv_add_test(raster_stages_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/stages_test.cpp
            LIBS qv_raster qv_format qv_runtime TIMEOUT 60)
