# The problem-pixel window and the stacking window.
target_include_directories(korvi_capture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/problem_pixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/problem_pixels.h
)
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/stacking.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stacking.h
)
