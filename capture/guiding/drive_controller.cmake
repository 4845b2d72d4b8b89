# The drive-controller window and its Qt-free words and files.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/drive_controller.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drive_controller.h
  ${CMAKE_CURRENT_LIST_DIR}/drive_controller_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drive_controller_window.h
)
target_include_directories(korvi_capture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
