# The main window's settings pages and camera controls, the USB error callback and their Qt-free
# helpers (filter-wheel steps, sub-frame checks, the USB read test's report).
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/main_window_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window_camera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/usb_error_handler.cpp ${CMAKE_CURRENT_LIST_DIR}/usb_error_handler.h
  ${CMAKE_CURRENT_LIST_DIR}/filter_wheel.cpp ${CMAKE_CURRENT_LIST_DIR}/filter_wheel.h
  ${CMAKE_CURRENT_LIST_DIR}/subframe_check.cpp ${CMAKE_CURRENT_LIST_DIR}/subframe_check.h
  ${CMAKE_CURRENT_LIST_DIR}/usb_read_test.cpp ${CMAKE_CURRENT_LIST_DIR}/usb_read_test.h
)
