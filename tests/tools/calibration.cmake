# The problem-pixel and stacking windows on a real main window.
korvi_add_test(calibration_windows_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/calibration_windows_test.cpp
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  GUI OWN_MAIN)
target_include_directories(calibration_windows_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/capture)
