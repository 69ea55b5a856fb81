# The four folder lists.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    store/contactlist.cpp
    store/folderlist.cpp
    store/folderlistmodel.cpp
    store/inboxlist.cpp
    store/outboxlist.cpp
    store/sentlist.cpp)
