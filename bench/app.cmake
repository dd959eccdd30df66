add_executable(app_bench ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp)
target_link_libraries(app_bench PRIVATE qv_app benchmark::benchmark qv_options)
