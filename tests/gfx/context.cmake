qv_add_test(gfx_context_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/context_test.cpp
            LIBS qv_gfx qv_present qv_raster qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
