# The bloom removal window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bloom_removal_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bloom_removal_window.h
)
