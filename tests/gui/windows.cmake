# Tests of the OpenGL panel, the colour-index views and the image window.
korvi_add_test(image_render_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_render_test.cpp ${CMAKE_CURRENT_LIST_DIR}/selection_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/color_index_view_test.cpp
  LIBS korvi_core_gui)
korvi_add_test(opengl_panel_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/opengl_panel_test.cpp
  LIBS korvi_core_gui korvi_gui_test_main GUI OWN_MAIN)
korvi_add_test(image_window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_window_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fake_image_window_host.h
  LIBS korvi_core_gui korvi_gui_test_main GUI OWN_MAIN)
korvi_add_test(gui_support_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/gui_support_test.cpp
  LIBS korvi_gui_test_main GUI OWN_MAIN)
