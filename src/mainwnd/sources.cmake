# Files of src/mainwnd: CLIPNOTE_CORE_SOURCES holds no widget code.
