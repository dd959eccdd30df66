# Converter throughput.
add_executable(convert_bench ${CMAKE_CURRENT_LIST_DIR}/convert_bench.cpp)
target_link_libraries(convert_bench PRIVATE qv_format qv_options benchmark::benchmark)
