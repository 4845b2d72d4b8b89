# korvicom: the shared camera link library. Everything is hidden but the 26 exports of
# korvicom.h; the FT_* layer under it is linked in privately and stays invisible.
add_library(korvicom SHARED
  ${CMAKE_CURRENT_LIST_DIR}/korvicom_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvicom_readout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvicom_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/korvicom_drive.cpp
)
set_target_properties(korvicom PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  AUTOMOC OFF
  LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/korvicom.exports)
target_link_options(korvicom PRIVATE
  "LINKER:--version-script=${CMAKE_CURRENT_LIST_DIR}/korvicom.exports"
  "LINKER:--exclude-libs,ALL"
  "LINKER:--no-undefined")
# The minimum/maximum scan over every pixel must vectorise even where the build type's cost
# model would not.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/korvicom_readout.cpp PROPERTIES
  COMPILE_OPTIONS "$<$<CXX_COMPILER_ID:GNU>:-fvect-cost-model=dynamic>")
target_link_libraries(korvicom PUBLIC korvicom_headers PRIVATE korvi_ftd2xx)
