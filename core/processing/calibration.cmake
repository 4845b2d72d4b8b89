# Problem-pixel detection and lists; registration and combination of image series.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/problem_pixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/problem_pixels.h
  ${CMAKE_CURRENT_LIST_DIR}/stacking.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stacking.h
)
