qv_add_test(raster_frontend_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/frontend_test.cpp
            LIBS qv_gfx qv_raster qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
