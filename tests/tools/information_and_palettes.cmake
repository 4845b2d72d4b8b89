# The palette editor and the image information window, driven through their controls.
korvi_add_test(information_and_palettes_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/information_and_palettes_test.cpp
               LIBS korvi_capture_test_support GUI OWN_MAIN)
