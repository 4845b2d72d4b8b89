# Tests of guiding: the guide arithmetic, the guide thread against the simulated camera and mount
# (time running twenty times faster: guide_scale), the slew paddle and the guider window.
korvi_add_test(guide_arithmetic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/guide_arithmetic_test.cpp LIBS korvi_capture)
korvi_add_test(guide_thread_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/guide_thread_test.cpp
               LIBS korvi_capture_test_support korvi_sim GUI OWN_MAIN ENV KORVI_TIME_SCALE=${guide_scale} TIMEOUT 600)
korvi_add_test(track_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/track_window_test.cpp
               LIBS korvi_capture_test_support korvi_sim GUI OWN_MAIN)
korvi_add_test(guider_window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/guider_window_test.cpp ${CMAKE_CURRENT_LIST_DIR}/camera_test_support.h
  LIBS korvi_capture korvi_sim korvi_gui_test_main
  ENV KORVI_TIME_SCALE=${guide_scale} TIMEOUT 600
  GUI OWN_MAIN)
