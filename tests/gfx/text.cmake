qv_add_test(gfx_text_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp
  LIBS qv_gfx qv_fonts qv_present qv_raster qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
qv_add_test(gfx_text_render_test LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_render_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fonts_png.cpp
  LIBS qv_gfx qv_fonts qv_present qv_raster qv_format qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
