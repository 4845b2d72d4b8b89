# The composite editor driven through its widgets.
korvi_add_test(composite_editor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/composite_editor_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
target_include_directories(composite_editor_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
