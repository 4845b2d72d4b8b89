# Star measurement and resampling. Its loops over rows run on all cores through OpenMP.
find_package(OpenMP REQUIRED COMPONENTS CXX)
target_link_libraries(korvi_core PUBLIC OpenMP::OpenMP_CXX)
target_sources(korvi_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/stars.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stars.h
  ${CMAKE_CURRENT_LIST_DIR}/row_kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/row_kernels.h
)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/row_kernels.cpp PROPERTIES COMPILE_OPTIONS "-O3;-ffp-contract=off")
