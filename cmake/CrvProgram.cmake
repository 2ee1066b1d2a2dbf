# The program `update`: the entry point, the compiled-in logo and icon, and its translations.
#
# In the build tree the program is build/bin/update and the translations are build/translations/
# (update_<locale>.qm, and qt_<locale>.qm from Qt's own qtbase catalogue). An installation keeps
# them as <root>/<three levels>/update and <root>/translations/, the root being the install
# prefix.
add_executable(update
    src/app/main.cpp
    resources/resources.qrc
)
target_link_libraries(update PRIVATE crv_ui crv_engine crv_config)
set_target_properties(update PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

set(CRV_TRANSLATIONS_DIR "${CMAKE_BINARY_DIR}/translations")
set(CRV_INSTALL_UPDATER_DIR "lib/corvanta/updater" CACHE STRING
    "Folder of the installed program below the install prefix (three levels, so the prefix is its root)")

set(_crv_ts_files "${CMAKE_CURRENT_SOURCE_DIR}/translations/update_de.ts")
set_source_files_properties(${_crv_ts_files} PROPERTIES OUTPUT_LOCATION "${CRV_TRANSLATIONS_DIR}")
qt_add_lrelease(update TS_FILES ${_crv_ts_files} QM_FILES_OUTPUT_VARIABLE _crv_qm_files)
# `cmake --build build --target update_lupdate` refreshes the .ts from every source and form.
file(GLOB _crv_translated_sources CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/src/*/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/src/*/*.ui")
qt_add_lupdate(update TS_FILES ${_crv_ts_files} SOURCES ${_crv_translated_sources}
    OPTIONS -no-obsolete -locations none)

# Qt's own texts (standard buttons and the like) come from the distribution's qtbase catalogue.
foreach(_crv_locale de)
    find_file(CRV_QTBASE_QM_${_crv_locale} qtbase_${_crv_locale}.qm
        PATHS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}" /usr/share/qt6/translations
        NO_DEFAULT_PATH)
    if(NOT CRV_QTBASE_QM_${_crv_locale})
        message(FATAL_ERROR "qtbase_${_crv_locale}.qm not found (Debian: qt6-translations-l10n)")
    endif()
    configure_file("${CRV_QTBASE_QM_${_crv_locale}}" "${CRV_TRANSLATIONS_DIR}/qt_${_crv_locale}.qm"
        COPYONLY)
    list(APPEND _crv_qm_files "${CRV_TRANSLATIONS_DIR}/qt_${_crv_locale}.qm")
endforeach()

install(TARGETS update RUNTIME DESTINATION "${CRV_INSTALL_UPDATER_DIR}")
install(FILES ${_crv_qm_files} DESTINATION translations)
