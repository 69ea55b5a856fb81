# Files of src/app.
list(APPEND CLIPNOTE_CORE_SOURCES
    app/clientcore.cpp
    app/synconce.cpp
    app/userfolderlock.cpp)
list(APPEND CLIPNOTE_WIDGET_SOURCES
    app/appfonts.cpp
    app/clientapp.cpp)
