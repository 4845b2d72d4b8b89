# Sky model fit and subtraction, logarithmic rescale.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sky_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sky_model.h
)
