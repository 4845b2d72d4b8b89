# The histogram equalization window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/equalization_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/equalization_window.h
)
