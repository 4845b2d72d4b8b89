# The alignment window of the composite editor.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/align_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/align_window.h
)
