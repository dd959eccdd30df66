qv_add_test(present_pacing_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/pacing_test.cpp
            LIBS qv_present qv_runtime TIMEOUT 60)
