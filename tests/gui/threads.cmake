# Worker-thread helpers: resume gate, stop requests, the thread base and its shut-down.
korvi_add_test(worker_thread_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/worker_thread_test.cpp LIBS korvi_core_gui
               OWN_MAIN)

# ThreadSanitizer trees only: a deliberate race in our code, between a std::thread and a QTimer slot,
# must still be reported with the suppressions in force (scripts/tsan.sh).
if(KORVI_TSAN)
  add_executable(tsan_deliberate_race ${CMAKE_CURRENT_LIST_DIR}/tsan_deliberate_race.cpp)
  target_link_libraries(tsan_deliberate_race PRIVATE Qt6::Core)
  add_test(NAME tsan_deliberate_race COMMAND tsan_deliberate_race)
  set_tests_properties(tsan_deliberate_race PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/threads_tsan.supp:halt_on_error=0"
    PASS_REGULAR_EXPRESSION "SUMMARY: ThreadSanitizer: data race [^\n]*tsan_deliberate_race.cpp"
    LABELS "unit;tsan")
endif()
