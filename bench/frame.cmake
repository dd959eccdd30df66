add_executable(frame_bench ${CMAKE_CURRENT_LIST_DIR}/frame_bench.cpp)
target_link_libraries(frame_bench PRIVATE qv_gfx qv_present qv_raster qv_format qv_runtime benchmark::benchmark qv_options)
