# Tests of the main window's settings pages and camera controls (capture/camera.cmake).
set(CAMERA_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})
set(CAMERA_SRC_DIR ${CMAKE_SOURCE_DIR}/capture)

korvi_add_test(camera_logic_test
  SOURCES ${CAMERA_TEST_DIR}/camera_logic_test.cpp
          ${CAMERA_SRC_DIR}/filter_wheel.cpp ${CAMERA_SRC_DIR}/subframe_check.cpp ${CAMERA_SRC_DIR}/usb_read_test.cpp
  LIBS korvi_core)
target_include_directories(camera_logic_test PRIVATE ${CAMERA_SRC_DIR})

# The window tests drive a real main window on the X server against the simulated controller;
# the time scale shortens the link time-outs of the fault cases (and, in the cooling test, the
# cooler's minute-long settling).
korvi_add_test(settings_pages_test
  SOURCES ${CAMERA_TEST_DIR}/settings_pages_test.cpp ${CAMERA_TEST_DIR}/camera_test_support.h
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  ENV KORVI_TIME_SCALE=0.01
  GUI OWN_MAIN)
korvi_add_test(camera_controls_test
  SOURCES ${CAMERA_TEST_DIR}/camera_controls_test.cpp ${CAMERA_TEST_DIR}/camera_test_support.h
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  ENV KORVI_TIME_SCALE=0.01
  GUI OWN_MAIN)
korvi_add_test(camera_cooling_test
  SOURCES ${CAMERA_TEST_DIR}/camera_cooling_test.cpp ${CAMERA_TEST_DIR}/camera_test_support.h
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  ENV KORVI_TIME_SCALE=0.005
  GUI OWN_MAIN)
