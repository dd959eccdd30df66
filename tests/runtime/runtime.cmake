# Runtime services: allocation, log, clock, primitives, threads, job queue.
qv_add_test(runtime_memory LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/memory_test.cpp
  LIBS qv_runtime TIMEOUT 120 WINDOWS_TIMEOUT 60)
qv_add_test(runtime_unit LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/clock_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sync_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/thread_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/job_queue_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/data_directory_test.cpp
  LIBS qv_runtime TIMEOUT 300 WINDOWS_TIMEOUT 60)
qv_add_test(runtime_stress LABELS stress
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/job_queue_stress_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/sync_stress_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/memory_stress_test.cpp
  LIBS qv_runtime TIMEOUT 600 WINDOWS_TIMEOUT 240)
