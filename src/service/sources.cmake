# Files of src/service.
list(APPEND CLIPNOTE_CORE_SOURCES
    service/pagesession.cpp
    service/serviceaddress.cpp)
