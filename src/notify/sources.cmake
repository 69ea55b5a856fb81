# Files of src/notify: CLIPNOTE_CORE_SOURCES holds no widget code.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    notify/notification.cpp)
