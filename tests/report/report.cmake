qv_add_test(report_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/stats_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/fit_test.cpp ${CMAKE_CURRENT_LIST_DIR}/reader_test.cpp LIBS qv_report TIMEOUT 300)

# The picture and the README example, checked through the built program.
if(NOT WIN32)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_FOUND)
    add_test(NAME report_svg_test COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_svg.py
             $<TARGET_FILE:qvdelay_report> ${CMAKE_CURRENT_BINARY_DIR}/svg_check)
    set_tests_properties(report_svg_test PROPERTIES LABELS unit TIMEOUT 120)
  endif()
  add_test(NAME report_example_test COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_example.sh
           $<TARGET_FILE:qvdelay_report> ${CMAKE_CURRENT_BINARY_DIR}/example_check)
  set_tests_properties(report_example_test PROPERTIES LABELS unit TIMEOUT 120)
  add_test(NAME report_participants_test COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_participants.sh
           $<TARGET_FILE:qvdelay_report> ${CMAKE_CURRENT_BINARY_DIR}/participants_check)
  set_tests_properties(report_participants_test PROPERTIES LABELS unit TIMEOUT 120)
endif()
