qv_add_test(gfx_stream_test LABELS stress SOURCES ${CMAKE_CURRENT_LIST_DIR}/stream_test.cpp
            LIBS qv_gfx qv_raster qv_format qv_runtime TIMEOUT 300 WINDOWS_TIMEOUT 120)
