# Histogram equalization tables and the transfer curve.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/equalization.cpp
  ${CMAKE_CURRENT_LIST_DIR}/equalization.h
)
