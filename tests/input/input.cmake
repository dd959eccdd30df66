qv_add_test(input_mapping_test LABELS unit exhaustive SOURCES ${CMAKE_CURRENT_LIST_DIR}/mapping_test.cpp
            LIBS qv_input qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
