# Files of src/recorder: CLIPNOTE_CORE_SOURCES holds no widget code.
