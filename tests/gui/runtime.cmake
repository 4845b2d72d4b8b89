# GUI-thread runtime: calls onto the GUI thread, guarded handlers, boxes, cursor, progress.
korvi_add_test(gui_runtime_test SOURCES gui_runtime_test.cpp LIBS korvi_core_gui Qt6::Test OWN_MAIN)
