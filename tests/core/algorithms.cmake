# Tests of the processing algorithms; each unit adds its test here.
korvi_add_test(photometric_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/photometric_test.cpp LIBS korvi_core)
korvi_add_test(filters_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/filters_test.cpp LIBS korvi_core)
korvi_add_test(filter_file_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/filter_file_test.cpp LIBS korvi_core)
korvi_add_test(statistics_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/processing/statistics_test.cpp LIBS korvi_core)
korvi_add_test(equalization_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/processing/equalization_test.cpp LIBS korvi_core)
korvi_add_test(fourier_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/processing/fourier_test.cpp LIBS korvi_core)
