add_executable(threshold_bench ${CMAKE_CURRENT_LIST_DIR}/threshold_bench.cpp)
target_link_libraries(threshold_bench PRIVATE qv_threshold benchmark::benchmark qv_options)
# Not a benchmark: simulated observers through the procedure, the table the
# stop rule was chosen from. Built here, run by hand.
add_executable(threshold_simulate ${CMAKE_CURRENT_LIST_DIR}/threshold_simulate.cpp)
target_link_libraries(threshold_simulate PRIVATE qv_threshold qv_report qv_options)
