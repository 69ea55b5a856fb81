# Files of src/mainwnd.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    mainwnd/adpanel.cpp
    mainwnd/maindialog.cpp
    mainwnd/mainfolders.cpp
    mainwnd/maingesture.cpp
    mainwnd/recordindicator.cpp
    mainwnd/mainrecording.cpp
    mainwnd/selectionsummary.cpp
    mainwnd/statusline.cpp
    mainwnd/trayicon.cpp
    mainwnd/windowlink.cpp
    mainwnd/workerthreads.cpp)
