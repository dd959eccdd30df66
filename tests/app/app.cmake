qv_add_test(app_delay_session_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/delay_session_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp LIBS qv_app TIMEOUT 600)
qv_add_test(app_results_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/results_record_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp LIBS qv_app TIMEOUT 300)
qv_add_test(app_rate_options_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/rate_options_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp LIBS qv_app TIMEOUT 300)
# The real-time pacing case runs alone, so that other tests do not take its cores.
set_tests_properties(app_rate_options_test PROPERTIES ENVIRONMENT GTEST_FILTER=-RateTest.*)
add_test(NAME app_rate_pacing_test COMMAND app_rate_options_test --gtest_color=no --gtest_filter=RateTest.*)
set_tests_properties(app_rate_pacing_test PROPERTIES LABELS unit TIMEOUT 120 RUN_SERIAL TRUE)
qv_add_test(app_startup_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp LIBS qv_app TIMEOUT 300)
if(WIN32)
  set(qv_app_rss ${CMAKE_CURRENT_LIST_DIR}/rss_win32.cpp)
else()
  set(qv_app_rss ${CMAKE_CURRENT_LIST_DIR}/rss_posix.cpp)
endif()
qv_add_test(app_soak_test LABELS stress SOURCES ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/app_harness.cpp ${qv_app_rss} LIBS qv_app TIMEOUT 900)
# The full-length soak on the optimised native build: 100 000 unpaced frames.
if(NOT WIN32 AND NOT QV_SANITIZE)
  add_test(NAME app_soak_100k COMMAND app_soak_test --gtest_color=no)
  set_tests_properties(app_soak_100k PROPERTIES LABELS exhaustive ENVIRONMENT QV_SOAK_FRAMES=100000 TIMEOUT 1200)
endif()
# A killed program leaves a record the report reads.
if(NOT WIN32 AND TARGET qvdelay_report)
  add_test(NAME app_results_crash_test
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/results_crash.sh $<TARGET_FILE:qvdelay_headless>
                   $<TARGET_FILE:qvdelay_report> ${CMAKE_CURRENT_BINARY_DIR}/results_crash)
  set_tests_properties(app_results_crash_test PROPERTIES LABELS unit TIMEOUT 120)
endif()
if(WIN32)
  qv_add_test(app_window_win32_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_proc_win32_test.cpp
              LIBS qv_app TIMEOUT 120)
endif()
# --version: the line "qvdelay <version>" alone, exit code 0.
foreach(program qvdelay qvdelay_headless qvdelay_report)
  if(TARGET ${program})
    add_test(NAME version_${program}
             COMMAND ${CMAKE_COMMAND} -D "PROGRAM=$<TARGET_FILE:${program}>" -D "EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                     -D "EXPECTED=qvdelay ${PROJECT_VERSION}" -P ${PROJECT_SOURCE_DIR}/cmake/version_check.cmake)
    set_tests_properties(version_${program} PROPERTIES LABELS unit TIMEOUT 60)
  endif()
endforeach()
# The README's screen pictures in docs/ are the program's current screens.
if(NOT WIN32 AND NOT QV_SANITIZE)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    add_test(NAME screens_test
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make_screens.py --check
                     $<TARGET_FILE:qvdelay_headless> ${PROJECT_SOURCE_DIR}/docs)
    set_tests_properties(screens_test PROPERTIES LABELS unit TIMEOUT 120)
  endif()
endif()
