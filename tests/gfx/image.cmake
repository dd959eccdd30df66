qv_add_test(gfx_image_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fonts_png.cpp
  LIBS qv_gfx qv_fonts qv_format qv_runtime TIMEOUT 120)
if(NOT WIN32)
  find_package(PNG REQUIRED)
  qv_add_test(gfx_image_formats_test LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_formats_test.cpp
    LIBS qv_gfx qv_format qv_runtime PNG::PNG TIMEOUT 120)
endif()
