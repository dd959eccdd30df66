if(WIN32)
  qv_add_test(input_devices_win32_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/devices_win32_test.cpp
              LIBS qv_input qv_runtime TIMEOUT 60)
endif()
