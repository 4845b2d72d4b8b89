# Problem-pixel lists; registration and stacking of series.
korvi_add_test(problem_pixels_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/problem_pixels_test.cpp LIBS korvi_core)
korvi_add_test(stacking_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/stacking_test.cpp LIBS korvi_core)
