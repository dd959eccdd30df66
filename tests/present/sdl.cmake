if(NOT WIN32)
  qv_add_test(present_sdl_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/sdl_presenter_test.cpp
              LIBS qv_present qv_format qv_runtime TIMEOUT 60)
endif()
