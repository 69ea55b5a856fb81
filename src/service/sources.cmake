# Files of src/service.
list(APPEND CLIPNOTE_CORE_SOURCES
    service/httpshared.cpp
    service/pagesession.cpp
    service/servicesession.cpp
    service/serviceaddress.cpp)
