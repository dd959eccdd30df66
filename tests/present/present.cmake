qv_add_test(present_memory_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/memory_presenter_test.cpp
            LIBS qv_present qv_format qv_runtime TIMEOUT 60)
qv_add_test(present_letterbox_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/letterbox_test.cpp
            LIBS qv_present qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
