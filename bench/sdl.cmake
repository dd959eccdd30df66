if(NOT WIN32)
  add_executable(sdl_bench ${CMAKE_CURRENT_LIST_DIR}/sdl_bench.cpp)
  target_link_libraries(sdl_bench PRIVATE qv_app qv_present qv_input benchmark::benchmark qv_options)
endif()
