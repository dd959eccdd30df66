qv_add_test(app_delay_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/delay_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp LIBS qv_app TIMEOUT 600)
qv_add_test(app_startup_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp LIBS qv_app TIMEOUT 300)
if(WIN32)
  set(qv_app_rss ${CMAKE_CURRENT_LIST_DIR}/rss_win32.cpp)
else()
  set(qv_app_rss ${CMAKE_CURRENT_LIST_DIR}/rss_posix.cpp)
endif()
qv_add_test(app_soak_test LABELS stress SOURCES ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp ${qv_app_rss} LIBS qv_app TIMEOUT 900)
