# Compiler settings shared by every target of the project.
add_library(qv_options INTERFACE)
target_include_directories(qv_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(qv_options INTERFACE
  -Wall -Wextra -Wshadow -Wno-unused-parameter -Wno-missing-field-initializers
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -Wno-class-memaccess>)
if(WIN32)
  target_compile_definitions(qv_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 UNICODE_DISABLED)
  # One self-contained executable: no MinGW runtime DLLs next to it.
  target_link_options(qv_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# Sanitizer builds select these through QV_SANITIZE (address / thread).
set(QV_SANITIZE "" CACHE STRING "address or thread")
if(QV_SANITIZE STREQUAL "address")
  # GCC's "undefined" group leaves out out-of-range float to integer
  # conversions; they are named on their own.
  target_compile_options(qv_options INTERFACE -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(qv_options INTERFACE -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all)
elseif(QV_SANITIZE STREQUAL "thread")
  target_compile_options(qv_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(qv_options INTERFACE -fsanitize=thread)
  target_compile_definitions(qv_options INTERFACE QV_TSAN=1)
endif()

# qv_module(<name> [DEPS <target>...] [SYSTEM_LIBS <lib>...])
# A static library of every .cpp in the calling folder. Platform files are
# picked by suffix: *_win32.cpp only on Windows, *_posix.cpp and *_sdl.cpp
# only elsewhere; everything else (including *_headless.cpp) everywhere.
# Program entry files (main_*.cpp) are left to the executable's own target.
function(qv_module name)
  cmake_parse_arguments(M "" "" "DEPS;SYSTEM_LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(s ${sources})
    if(s MATCHES "/main_[^/]*\\.(cpp|c)$")
      list(REMOVE_ITEM sources ${s})
    elseif(WIN32 AND s MATCHES "_(posix|sdl)\\.(cpp|c)$")
      list(REMOVE_ITEM sources ${s})
    elseif(NOT WIN32 AND s MATCHES "_win32\\.(cpp|c)$")
      list(REMOVE_ITEM sources ${s})
    endif()
  endforeach()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC qv_options ${M_DEPS} ${M_SYSTEM_LIBS})
endfunction()
