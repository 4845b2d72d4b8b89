# Image files (own format, FITS, PNG, BMP, dispatch) and display levels.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bmp_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fits_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/levels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/native_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_file.cpp)
# The pixel loops (extremes, histograms, byte order) are simple reductions; GCC vectorises them at -O2
# only with the dynamic cost model.
set_source_files_properties(
  ${CMAKE_CURRENT_LIST_DIR}/image_file.cpp ${CMAKE_CURRENT_LIST_DIR}/levels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/native_file.cpp
  PROPERTIES COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:GNU>:-fvect-cost-model=dynamic>")
