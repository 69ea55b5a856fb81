# Files of src/app.
list(APPEND CLIPNOTE_CORE_SOURCES
    app/clientcore.cpp)
