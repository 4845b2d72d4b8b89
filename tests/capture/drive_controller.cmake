# Tests of the drive-controller window and its words and files, and of the clock test and the
# small windows beside the main window.
korvi_add_test(drive_controller_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/drive_controller_test.cpp ${CMAKE_SOURCE_DIR}/capture/guiding/drive_controller.cpp
  LIBS korvi_core)
target_include_directories(drive_controller_test PRIVATE ${CMAKE_SOURCE_DIR}/capture/guiding)
korvi_add_test(drive_controller_window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/drive_controller_window_test.cpp ${CMAKE_CURRENT_LIST_DIR}/camera_test_support.h
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  ENV KORVI_TIME_SCALE=0.01
  GUI OWN_MAIN)
korvi_add_test(clock_and_notice_windows_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/clock_and_notice_windows_test.cpp ${CMAKE_CURRENT_LIST_DIR}/camera_test_support.h
  LIBS korvi_capture korvi_sim korvi_gui_test_main PkgConfig::FFTW3 PNG::PNG
  GUI OWN_MAIN)
