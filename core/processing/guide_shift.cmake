# Guide-image shift measurement on projection profiles.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/guide_shift.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guide_shift.h
)
