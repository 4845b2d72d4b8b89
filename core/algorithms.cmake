# Processing algorithms; each unit adds its sources here.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/photometric.cpp
  ${CMAKE_CURRENT_LIST_DIR}/photometric.h
)
include(${CMAKE_CURRENT_LIST_DIR}/processing/stars.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/calibration.cmake)
