# The OpenGL panel, the colour-index views, the views' cursors and the image window.
target_sources(korvi_core_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/opengl_panel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/opengl_panel.h
  ${CMAKE_CURRENT_LIST_DIR}/color_index_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/color_index_view.h
  ${CMAKE_CURRENT_LIST_DIR}/image_render.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_render.h
  ${CMAKE_CURRENT_LIST_DIR}/selection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/selection.h
  ${CMAKE_CURRENT_LIST_DIR}/view_cursors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/view_cursors.h
  ${CMAKE_CURRENT_LIST_DIR}/image_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_window.h
  ${CMAKE_CURRENT_LIST_DIR}/image_window_host.h
)
