# The sub-frame table window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/subframe_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/subframe_table.h
)
