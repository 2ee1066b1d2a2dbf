# crv_add_qtest(NAME SOURCES src... LIBS lib... [RESOURCE_LOCK lock...] [ENVIRONMENT var=value...])
#
# The installation root is derived from the executable's place (three levels up), so every
# test executable lives three levels below a root of its own inside the build tree:
# build/testroots/<name>/a/b/c/<name>. A test may create update.ini or mirrors.ini there.
#
# Each test carries its folder below tests/ as its label, and the target crv_tests_<folder>
# builds every test of that folder: `ctest -L '^(tasks|files)$'` runs them, so one subsystem's
# tests can be built and run alone (the ThreadSanitizer build does that).

# A thread build runs every test with the suppressions for the system's libraries it cannot see
# into; other builds pass none, so a stray entry there cannot hide anything.
if(CRV_SANITIZE MATCHES "thread")
    set(CRV_TSAN_OPTIONS "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
else()
    set(CRV_TSAN_OPTIONS "")
endif()

function(crv_add_qtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;RESOURCE_LOCK;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    set(_dir "${CMAKE_BINARY_DIR}/testroots/${name}/a/b/c")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${_dir}")
    add_test(NAME ${name} COMMAND ${name})
    get_filename_component(_folder "${CMAKE_CURRENT_SOURCE_DIR}" NAME)
    if(NOT TARGET crv_tests_${_folder})
        add_custom_target(crv_tests_${_folder})
    endif()
    add_dependencies(crv_tests_${_folder} ${name})
    set_tests_properties(${name} PROPERTIES
        WORKING_DIRECTORY "${_dir}"
        TIMEOUT 120
        LABELS "${_folder}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;${CRV_TSAN_OPTIONS};${ARG_ENVIRONMENT}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()
