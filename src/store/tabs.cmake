# The folder tabs, the About box, the player and the Options sheet.
list(APPEND CLIPNOTE_WIDGET_SOURCES
    store/aboutbox.cpp
    store/aboutzeb.cpp
    store/checkboxpage.cpp
    store/mytabs.cpp
    store/notifysettings.cpp
    store/ocx1.cpp
    store/optionspage.cpp
    store/optionssheet.cpp
    store/productinfo.cpp
    store/securityopts.cpp
    store/sendopts.cpp)
