# The acquisition: the acquisition thread, its Qt-free frame helpers and the main window's
# acquisition actions and delay timer.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/acquisition_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acquisition_frame.h
  ${CMAKE_CURRENT_LIST_DIR}/acquisition_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acquisition_thread.h
  ${CMAKE_CURRENT_LIST_DIR}/main_window_acquire.cpp
)
