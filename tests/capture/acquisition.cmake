# Tests of the acquisition: the Qt-free frame helpers, and whole runs of the main window against
# the simulated camera with the process time running a hundred times faster.
korvi_add_test(acquisition_frame_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/acquisition_frame_test.cpp LIBS korvi_capture)
korvi_add_test(acquisition_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/acquisition_test.cpp
               LIBS korvi_capture_test_support korvi_sim GUI OWN_MAIN ENV KORVI_TIME_SCALE=0.01 TIMEOUT 600)
