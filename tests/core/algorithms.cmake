# Tests of the processing algorithms; each unit adds its test here.
korvi_add_test(photometric_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/photometric_test.cpp LIBS korvi_core)
korvi_add_test(subframe_table_file_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/subframe_table_file_test.cpp LIBS korvi_core)
korvi_add_test(transfer_analysis_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_analysis_test.cpp LIBS korvi_core korvi_sim)
include(${CMAKE_CURRENT_LIST_DIR}/processing/stars.cmake)
korvi_add_test(filters_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/filters_test.cpp LIBS korvi_core)
korvi_add_test(filter_file_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/filter_file_test.cpp LIBS korvi_core)
include(${CMAKE_CURRENT_LIST_DIR}/processing/calibration.cmake)
