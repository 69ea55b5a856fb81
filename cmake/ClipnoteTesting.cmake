# add_qt_test(<name> SOURCES <files...> LIBS <targets...> [LABEL <label>])
# One Qt Test executable per tested class; every test runs headless.
set(CLIPNOTE_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "CLIPNOTE_CAMERA=test"
    "CLIPNOTE_MICROPHONE=test"
    "CLIPNOTE_SERVER_BIN=$<TARGET_FILE:clipnote-server>"
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0:intercept_tls_get_addr=0"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
if(CLIPNOTE_WIDGETS)
    list(APPEND CLIPNOTE_TEST_ENV "CLIPNOTE_CLIENT_BIN=$<TARGET_FILE:clipnote>")
endif()

function(add_qt_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE clipnote_build clipnote_test_support Qt6::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${CLIPNOTE_TEST_ENV}"
        LABELS "${T_LABEL}"
        TIMEOUT ${T_TIMEOUT})
endfunction()

# Every tst_<class>.cpp in a folder becomes its own test executable; those
# named under NEEDS_PROGRAM run the clipnote program and are left out of a
# build without the windows.
function(add_qt_tests_in_folder label)
    cmake_parse_arguments(F "" "" "LIBS;NEEDS_PROGRAM" ${ARGN})
    file(GLOB _tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp")
    foreach(_src ${_tests})
        get_filename_component(_name ${_src} NAME_WE)
        if(NOT CLIPNOTE_WIDGETS AND _name IN_LIST F_NEEDS_PROGRAM)
            continue()
        endif()
        add_qt_test(${label}_${_name} SOURCES ${_src} LIBS ${F_LIBS} LABEL ${label})
    endforeach()
endfunction()
