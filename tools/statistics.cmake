# The statistics window and the histogram picture it shares with the equalization window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/histogram_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/histogram_picture.h
  ${CMAKE_CURRENT_LIST_DIR}/statistics_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/statistics_window.h
)
