# Tests of the processing algorithms; each unit adds its test here.
korvi_add_test(photometric_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/photometric_test.cpp LIBS korvi_core)
include(${CMAKE_CURRENT_LIST_DIR}/processing/stars.cmake)
