# Image files (own format, FITS, PNG, BMP, dispatch) and display levels.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bmp_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fits_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/levels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/native_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_file.cpp)
