korvi_add_test(bloom_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/bloom_test.cpp LIBS korvi_core)
target_include_directories(bloom_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
