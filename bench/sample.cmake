add_executable(sample_bench ${CMAKE_CURRENT_LIST_DIR}/sample_bench.cpp)
target_link_libraries(sample_bench PRIVATE qv_format benchmark::benchmark qv_options)
