# Alignment of the composite's layers onto layer 1. Its resampling runs over rows on all cores
# through OpenMP (linked by the star measurement unit).
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/alignment.cpp
  ${CMAKE_CURRENT_LIST_DIR}/alignment.h
)
