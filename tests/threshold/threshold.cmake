# The adaptive threshold procedure: simulated observers, edge runs, and the
# entropy choice and quantiles against direct computations.
qv_add_test(threshold_test LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/psi_test.cpp LIBS qv_threshold qv_report TIMEOUT 300)
