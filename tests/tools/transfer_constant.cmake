# Tests of the transfer-constant window on a real main window.
korvi_add_test(transfer_constant_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transfer_constant_test.cpp
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  GUI OWN_MAIN)
target_include_directories(transfer_constant_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
