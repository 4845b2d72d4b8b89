# Tests of the FT_* layer and the simulated camera controller.
korvi_add_test(ftd2xx_sim_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ftd2xx_sim_test.cpp
  LIBS korvi_ftd2xx korvi_sim ENV KORVI_TIME_SCALE=0.01)
korvi_add_test(sim_protocol_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_protocol_test.cpp
  LIBS korvi_ftd2xx korvi_sim ENV KORVI_TIME_SCALE=0.01)
korvi_add_test(ftd2xx_read_loop_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ftd2xx_read_loop_test.cpp LIBS korvi_ftd2xx)
korvi_add_test(sim_time_scale_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_time_scale_test.cpp
  LIBS korvi_sim ENV KORVI_TIME_SCALE=0.01)
korvi_add_test(sim_model_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_model_test.cpp LIBS korvi_sim)
korvi_add_test(sim_environment_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_environment_test.cpp LIBS korvi_sim
  ENV KORVI_SIM_SEED=42 KORVI_SIM_GUIDE_RATE=3.5 KORVI_SIM_DRIFT=0.25,-0.5)
