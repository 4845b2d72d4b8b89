# Tests of the image files (own format, FITS, PNG, BMP, dispatch) and the display levels.
set(_image_file_tests levels_test native_file_test fits_file_test png_file_test bmp_file_test image_file_test)
foreach(_test IN LISTS _image_file_tests)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${_test}.cpp)
    korvi_add_test(${_test} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_test}.cpp LIBS korvi_core)
  endif()
endforeach()
