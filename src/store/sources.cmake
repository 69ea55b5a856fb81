# Files of src/store.
list(APPEND CLIPNOTE_CORE_SOURCES
    store/contactstore.cpp
    store/folderlisting.cpp
    store/messagestore.cpp
    store/replacingfile.cpp
    store/storefolder.cpp
    store/storenames.cpp)
list(APPEND CLIPNOTE_WIDGET_SOURCES)
