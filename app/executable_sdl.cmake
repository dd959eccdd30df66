# The Linux program: the shared application over the SDL2 platform layer.
find_package(SDL2 REQUIRED)
add_executable(qvdelay ${CMAKE_CURRENT_SOURCE_DIR}/main_sdl.cpp)
target_link_libraries(qvdelay PRIVATE qv_app qv_present qv_input SDL2::SDL2)
