# Files of src/store.
list(APPEND CLIPNOTE_CORE_SOURCES
    store/contactstore.cpp
    store/folderlisting.cpp
    store/listdate.cpp
    store/listorder.cpp
    store/messagestore.cpp
    store/picturecache.cpp
    store/replacingfile.cpp
    store/sendfailures.cpp
    store/storefolder.cpp
    store/storenames.cpp)
list(APPEND CLIPNOTE_WIDGET_SOURCES)
# The folder list widgets and the small dialogs keep their own file lists.
include(${CMAKE_CURRENT_LIST_DIR}/lists.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/dialogs.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/tabs.cmake OPTIONAL)
