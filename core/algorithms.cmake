# Processing algorithms; each unit adds its sources here.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/photometric.cpp
  ${CMAKE_CURRENT_LIST_DIR}/photometric.h
)
include(${CMAKE_CURRENT_LIST_DIR}/processing/stars.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/guide_shift.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/sky_model.cmake)
# The pixel filters and the convolution filter files (included as "processing/filters.h"); their row loops use OpenMP.
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/processing/filters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/processing/filters.h
  ${CMAKE_CURRENT_LIST_DIR}/processing/filter_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/processing/filter_file.h
)
# Without OpenMP (a compiler that lacks it) the same loops run on one thread.
find_package(OpenMP COMPONENTS CXX)
if(OpenMP_CXX_FOUND)
  target_link_libraries(korvi_core PUBLIC OpenMP::OpenMP_CXX)
endif()
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/processing/filters.cpp PROPERTIES COMPILE_OPTIONS "-O3;-ffp-contract=off")
include(${CMAKE_CURRENT_LIST_DIR}/processing/statistics.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/equalization.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/fourier.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/bloom.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/calibration.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/processing/alignment.cmake)
