# Region statistics as the statistics window shows and saves them.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/statistics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/statistics.h
)
