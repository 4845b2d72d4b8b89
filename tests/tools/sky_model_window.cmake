# The sky-model window and the sky and log-rescale operations of the processing dialog.
korvi_add_test(sky_model_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sky_model_window_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(sky_model_window_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
