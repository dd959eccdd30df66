# Font data: the JIS X 0208 table, the embedded font images and their
# regeneration from the tools.
if(NOT TARGET qv_fonts)
  add_subdirectory(${PROJECT_SOURCE_DIR}/gfx/fonts ${CMAKE_BINARY_DIR}/gfx/fonts)
endif()
if(NOT WIN32)
  find_program(QV_PYTHON3 python3 HINTS /usr/bin)
endif()
if(NOT QV_PYTHON3)
  set(QV_PYTHON3 "")
endif()
qv_add_test(fonts_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/jis0208_table_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/font_images_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/fonts_regen_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/fonts_png.cpp
  LIBS qv_fonts
  TIMEOUT 120)
target_compile_definitions(fonts_test PRIVATE
  QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  QV_TEST_WORK_DIR="${CMAKE_CURRENT_BINARY_DIR}"
  QV_PYTHON3="${QV_PYTHON3}")
