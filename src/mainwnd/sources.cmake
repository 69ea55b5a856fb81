# Files of src/mainwnd.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    mainwnd/maindialog.cpp)
