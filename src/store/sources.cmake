# Files of src/store: CLIPNOTE_CORE_SOURCES holds no widget code.
