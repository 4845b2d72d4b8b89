# The GUI-thread runtime every window of the program shares: blocking calls onto the GUI thread,
# guarded handlers, message boxes, busy cursor, progress and the user's decimal separator.
target_sources(korvi_core_gui PRIVATE gui_runtime.cpp gui_runtime.h)
