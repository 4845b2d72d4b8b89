# Tests of guiding: the guide arithmetic, the guide thread against the simulated camera and mount
# (time running fifty times faster), and the slew paddle.
korvi_add_test(guide_arithmetic_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/guide_arithmetic_test.cpp LIBS korvi_capture)
