# GUI test helpers: korvi_gui_test_support (message boxes and file dialogs answered by script,
# framebuffer grabs and pixel comparison) and korvi_gui_test_main (a main that makes the
# QApplication in a fixed environment, for korvi_add_test(... GUI OWN_MAIN)).
if(KORVI_BUILD_GUI)
  add_library(korvi_gui_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/gui_test_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/gui_test_support.h
  )
  target_include_directories(korvi_gui_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(korvi_gui_test_support PUBLIC GTest::gtest Qt6::Widgets Qt6::OpenGLWidgets Qt6::Test)

  add_library(korvi_gui_test_main STATIC ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp)
  target_link_libraries(korvi_gui_test_main PUBLIC korvi_gui_test_support GTest::gtest)
endif()
