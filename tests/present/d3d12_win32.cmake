if(WIN32)
  qv_add_test(present_d3d12_win32_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/letterbox_win32_test.cpp
              LIBS qv_present qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
endif()
