# Guiding: the guide arithmetic, the guide thread, the guider window and the slew paddle.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/guide_arithmetic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guide_arithmetic.h
  ${CMAKE_CURRENT_LIST_DIR}/guide_star.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guide_star.h
  ${CMAKE_CURRENT_LIST_DIR}/guide_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guide_thread.h
  ${CMAKE_CURRENT_LIST_DIR}/guider_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guider_window.h
  ${CMAKE_CURRENT_LIST_DIR}/guider_window_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guider_window_display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/track_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/track_window.h
)
