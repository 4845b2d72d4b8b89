# Worker-thread helpers: resume gate, stop requests, the thread base and its shut-down.
korvi_add_test(worker_thread_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/worker_thread_test.cpp LIBS korvi_core_gui
               OWN_MAIN)
