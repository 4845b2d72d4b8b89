# The sky-model and bloom removal windows, and the sky and log-rescale operations of the processing dialog.
korvi_add_test(sky_and_bloom_windows_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sky_and_bloom_windows_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(sky_and_bloom_windows_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
