# The Windows program: one self-contained qvdelay.exe (static runtime, fonts
# and the presenter's shader text embedded).
add_executable(qvdelay WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/main_win32.cpp)
target_link_libraries(qvdelay PRIVATE qv_app user32 gdi32)
