# One interface target carries the language level, the warnings and the Qt
# defines; every library, program, test and benchmark links it.
add_library(clipnote_build INTERFACE)
target_compile_features(clipnote_build INTERFACE cxx_std_20)
target_compile_options(clipnote_build INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(clipnote_build INTERFACE
    QT_NO_FOREACH
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DISABLE_DEPRECATED_BEFORE=0x060000
    CLIPNOTE_DEFAULT_SERVICE="${CLIPNOTE_DEFAULT_SERVICE}")

if(CLIPNOTE_SANITIZE)
    set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_compile_options(clipnote_build INTERFACE ${_san})
    target_link_options(clipnote_build INTERFACE ${_san})
endif()
