# crv_add_qtest(NAME SOURCES src... LIBS lib... [RESOURCE_LOCK lock...] [ENVIRONMENT var=value...])
#
# The installation root is derived from the executable's place (three levels up), so every
# test executable lives three levels below a root of its own inside the build tree:
# build/testroots/<name>/a/b/c/<name>. A test may create update.ini or mirrors.ini there.
function(crv_add_qtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;RESOURCE_LOCK;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    set(_dir "${CMAKE_BINARY_DIR}/testroots/${name}/a/b/c")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${_dir}")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        WORKING_DIRECTORY "${_dir}"
        TIMEOUT 120
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;${ARG_ENVIRONMENT}")
    if(ARG_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
    endif()
endfunction()
