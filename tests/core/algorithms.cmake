# Tests of the processing algorithms; each unit adds its test here.
korvi_add_test(photometric_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/photometric_test.cpp LIBS korvi_core)
korvi_add_test(guide_shift_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/guide_shift_test.cpp LIBS korvi_core)
