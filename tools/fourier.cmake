# The Fourier filter window.
target_sources(korvi_capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/fourier_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fourier_window.h
)
