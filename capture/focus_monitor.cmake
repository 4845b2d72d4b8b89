# The focus monitor window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/focus_monitor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/focus_monitor.h
)
