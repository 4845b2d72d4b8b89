korvi_add_test(statistics_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/statistics_window_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(statistics_window_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
