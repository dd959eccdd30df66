add_executable(jobs_bench ${CMAKE_CURRENT_LIST_DIR}/jobs_bench.cpp)
target_link_libraries(jobs_bench PRIVATE qv_runtime benchmark::benchmark qv_options)
