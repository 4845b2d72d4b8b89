# Batch processing: output naming and the batch window.
korvi_add_test(batch_naming_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/batch_naming_test.cpp LIBS korvi_capture)
korvi_add_test(multi_process_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/multi_process_test.cpp
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  GUI OWN_MAIN)
target_include_directories(multi_process_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
