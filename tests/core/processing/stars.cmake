# Star measurement and resampling.
korvi_add_test(stars_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/stars_test.cpp LIBS korvi_core)
