# The clock test, the testing output window, the focus-mode notice and the about box, and the file
# dialog the smaller windows share.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/about_window.cpp ${CMAKE_CURRENT_LIST_DIR}/about_window.h
  ${CMAKE_CURRENT_LIST_DIR}/clock_test.cpp ${CMAKE_CURRENT_LIST_DIR}/clock_test.h
  ${CMAKE_CURRENT_LIST_DIR}/focus_enable_window.cpp ${CMAKE_CURRENT_LIST_DIR}/focus_enable_window.h
  ${CMAKE_CURRENT_LIST_DIR}/program_file_dialog.cpp ${CMAKE_CURRENT_LIST_DIR}/program_file_dialog.h
  ${CMAKE_CURRENT_LIST_DIR}/testing_window.cpp ${CMAKE_CURRENT_LIST_DIR}/testing_window.h
)
# The about box reads the USB chip library's version at run time.
target_link_libraries(korvi_capture PRIVATE PkgConfig::LIBFTDI1)
target_include_directories(korvi_capture PRIVATE ${TNT_INCLUDE_DIR})
