# Tests of the processing algorithms; each unit adds its test here.
korvi_add_test(photometric_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/photometric_test.cpp LIBS korvi_core)
korvi_add_test(filters_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/filters_test.cpp LIBS korvi_core)
korvi_add_test(filter_file_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/filter_file_test.cpp LIBS korvi_core)
