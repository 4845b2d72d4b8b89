# Tests of the subframe-table window on a real main window.
korvi_add_test(subframe_table_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/subframe_table_test.cpp
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  GUI OWN_MAIN)
target_include_directories(subframe_table_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
