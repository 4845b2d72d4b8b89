# korvi_ftd2xx: the FT_* layer under korvicom (libftdi1 for a real FT245, or the simulated
# controller when KORVICOM_DEVICE=simulator). Static, position independent and hidden, so that
# korvicom links it privately and exports none of its symbols.
set(KORVI_FTD2XX_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(korvi_ftd2xx STATIC
  ${KORVI_FTD2XX_DIR}/ftd2xx.cpp
  ${KORVI_FTD2XX_DIR}/ftdi_port.cpp
  ${KORVI_FTD2XX_DIR}/read_loop.cpp
  ${KORVI_FTD2XX_DIR}/sim_port.cpp
)
set_target_properties(korvi_ftd2xx PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(korvi_ftd2xx PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(korvi_ftd2xx PUBLIC korvi_sim PRIVATE PkgConfig::LIBFTDI1)
