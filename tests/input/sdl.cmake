if(NOT WIN32)
  qv_add_test(input_sdl_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/sdl_input_test.cpp
              LIBS qv_input qv_runtime TIMEOUT 60)
endif()
