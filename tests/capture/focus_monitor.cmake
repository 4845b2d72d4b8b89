# The focus monitor, on loaded images and through a focus-mode run against the simulated camera.
korvi_add_test(focus_monitor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/focus_monitor_test.cpp
               LIBS korvi_capture_test_support korvi_sim GUI OWN_MAIN ENV KORVI_TIME_SCALE=0.01)
