# Frame arithmetic of batch processing: sums, subtraction, dark and flat frames, corrections and
# the problem-pixel list readers.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/calibration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calibration.h
)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/calibration.cpp PROPERTIES COMPILE_OPTIONS "-O3")
