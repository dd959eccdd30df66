qv_add_test(gfx_image_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fonts_png.cpp
  LIBS qv_gfx qv_fonts qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
if(NOT WIN32)
  find_package(PNG REQUIRED)
  qv_add_test(gfx_image_formats_test LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_formats_test.cpp
    LIBS qv_gfx qv_format qv_runtime PNG::PNG TIMEOUT 120 WINDOWS_TIMEOUT 60)
endif()
if(WIN32)
  set(png_chunks_guard_source ${PROJECT_SOURCE_DIR}/tests/format/guarded_memory_win32.cpp)
else()
  set(png_chunks_guard_source ${PROJECT_SOURCE_DIR}/tests/format/guarded_memory_posix.cpp)
endif()
qv_add_test(gfx_png_chunks_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/png_chunks_test.cpp ${png_chunks_guard_source}
  LIBS qv_gfx qv_format qv_runtime TIMEOUT 60)
