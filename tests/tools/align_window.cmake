# The alignment window on a real main window.
korvi_add_test(align_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/align_window_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(align_window_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
