# The composite editor: layers, blending and display; transforms, trims, files and settings.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/composite_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/composite_editor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/composite_editor.h
  ${CMAKE_CURRENT_LIST_DIR}/composite_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/composite_view.cpp
)
