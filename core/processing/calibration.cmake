# Calibration arithmetic: problem-pixel detection and lists; registration and combination of image
# series; the frame arithmetic of batch processing (sums, subtraction, dark and flat frames,
# corrections).
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/calibration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/calibration.h
  ${CMAKE_CURRENT_LIST_DIR}/problem_pixels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/problem_pixels.h
  ${CMAKE_CURRENT_LIST_DIR}/stacking.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stacking.h
)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/calibration.cpp PROPERTIES COMPILE_OPTIONS "-O3")
