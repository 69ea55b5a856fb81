# Files of src/platform.
list(APPEND CLIPNOTE_CORE_SOURCES
    platform/alert.cpp
    platform/filestatus.cpp
    platform/helpers.cpp
    platform/messages.h
    platform/privatefile.cpp
    platform/profile.cpp
    platform/resources.cpp
    platform/tempfolder.cpp
    platform/windowtimers.cpp)
list(APPEND CLIPNOTE_WIDGET_SOURCES
    platform/dialogbuttons.cpp
    platform/messagebox.cpp
    platform/popupmenu.cpp
    platform/savefiledialog.cpp
    platform/waitcursor.h)
