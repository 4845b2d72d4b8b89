# Radial low-pass and high-pass filtering in the Fourier domain (FFTW).
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/fourier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fourier.h
)
