# Files of src/notify: CLIPNOTE_CORE_SOURCES holds no widget code.
