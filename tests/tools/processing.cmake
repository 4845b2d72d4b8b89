# The shared processing-window unit and the processing dialog, driven through the main window.
korvi_add_test(processing_target_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/processing_target_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(processing_target_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
korvi_add_test(processing_dialog_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/processing_dialog_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(processing_dialog_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
