# Files of src/service.
list(APPEND CLIPNOTE_CORE_SOURCES
    service/httpshared.cpp
    service/messagerecord.cpp
    service/messagepageclient.cpp
    service/pagefetch.cpp
    service/pagesession.cpp
    service/recorddate.cpp
    service/replytext.cpp
    service/savingworker.cpp
    service/sendreceiveworker.cpp
    service/servicesession.cpp
    service/servicetransport.cpp
    service/serviceaddress.cpp
    service/uploadbody.cpp)
list(APPEND CLIPNOTE_WIDGET_SOURCES
    service/changepw.cpp
    service/login.cpp
    service/register.cpp)
