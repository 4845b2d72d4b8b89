# Batch frame arithmetic and the problem-pixel list readers.
korvi_add_test(calibration_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_test.cpp LIBS korvi_core)
