# The Add Contact and Resend To dialogs.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    store/addcontact.cpp
    store/resend.cpp)
