# Camera gain and read noise from bias and lit series.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/transfer_analysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer_analysis.h
)
target_include_directories(korvi_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
