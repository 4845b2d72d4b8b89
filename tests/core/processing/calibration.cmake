# Problem-pixel lists; registration and stacking of series; batch frame arithmetic.
korvi_add_test(problem_pixels_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/problem_pixels_test.cpp LIBS korvi_core)
korvi_add_test(stacking_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/stacking_test.cpp LIBS korvi_core)
korvi_add_test(calibration_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_test.cpp LIBS korvi_core)
