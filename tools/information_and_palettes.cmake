# The palette editor and the image information window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/image_information.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_information.h
  ${CMAKE_CURRENT_LIST_DIR}/palette_editor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/palette_editor.h
)
