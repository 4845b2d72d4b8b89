# Tests of the image core records (text files, palette, image record, settings).
korvi_add_test(text_format_test SOURCES text_format_test.cpp LIBS korvi_core)
korvi_add_test(line_file_test SOURCES line_file_test.cpp LIBS korvi_core)
korvi_add_test(palette_test SOURCES palette_test.cpp LIBS korvi_core)
korvi_add_test(image_data_test SOURCES image_data_test.cpp LIBS korvi_core)
korvi_add_test(settings_test SOURCES settings_test.cpp LIBS korvi_core)
korvi_add_test(palette_curves_test SOURCES palette_curves_test.cpp LIBS korvi_core)
korvi_add_test(pixel_memory_test SOURCES pixel_memory_test.cpp LIBS korvi_core)
