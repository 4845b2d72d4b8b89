# korvi_sim: the simulated camera controller, a shared library so that korvicom and the test
# programs see one and the same device.
set(KORVI_SIM_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(korvi_sim SHARED
  ${KORVI_SIM_DIR}/camera.cpp
  ${KORVI_SIM_DIR}/controller.cpp
  ${KORVI_SIM_DIR}/device.cpp
  ${KORVI_SIM_DIR}/sim_control.cpp
  ${KORVI_SIM_DIR}/sim_link.cpp
  ${KORVI_SIM_DIR}/sky.cpp
)
target_include_directories(korvi_sim PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(korvi_sim PUBLIC Threads::Threads)
