# Bloom and star removal.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bloom.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bloom.h
)
