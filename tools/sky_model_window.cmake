# The sky-model window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sky_model_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sky_model_window.h
)
