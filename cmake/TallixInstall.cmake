# Installation like a Linux desktop program, and a Debian package of it (cpack -G DEB).
#   bin/       tallix, txengine, qrmime, imap_check (the options dialog's connection test)
#   lib/       libqrmime.so.1
#   share/tallix/          Examples, extensions.txt, help (the data directory the programs read)
#   share/doc/tallix/      README and the help set as HTML
#   share/applications/    tallix.desktop
#   share/icons/hicolor/   the program icon
#   share/man/man1/        tallix.1, txengine.1, qrmime.1
#   lib/systemd/user/      tallix-engine.service (watch mode), tallix-engine-once.service and
#                          tallix-engine.timer (a run every 15 minutes)
include(GNUInstallDirs)

set(TALLIX_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/tallix)
set(TALLIX_DOC_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/doc/tallix)

# Installed programs find libqrmime beside them in lib/, wherever the prefix is.
file(RELATIVE_PATH _bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set(_programs txengine qrmime_tool imap_check)
if(TALLIX_BUILD_GUI)
    list(APPEND _programs tallix)
endif()
set_target_properties(${_programs} PROPERTIES INSTALL_RPATH "$ORIGIN/${_bin_to_lib}")

install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qrmime LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)

file(GLOB _examples ${CMAKE_SOURCE_DIR}/examples/*.txf ${CMAKE_SOURCE_DIR}/examples/*.mbox)
install(FILES ${_examples} DESTINATION ${TALLIX_DATA_INSTALL_DIR}/Examples)
install(FILES ${CMAKE_SOURCE_DIR}/data/extensions.txt DESTINATION ${TALLIX_DATA_INSTALL_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${TALLIX_DOC_INSTALL_DIR})
file(GLOB _man ${CMAKE_SOURCE_DIR}/data/man/*.1)
install(FILES ${_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The systemd user units name the installed txengine by its full path, which is known only at
# install time (cmake --install --prefix, a package's staging directory).
set(_units_src ${CMAKE_SOURCE_DIR}/install/systemd)
install(CODE "
    set(TXENGINE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/txengine\")
    set(_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    foreach(_unit tallix-engine.service tallix-engine-once.service)
        configure_file(${_units_src}/\${_unit}.in \${_dir}/\${_unit} @ONLY)
    endforeach()
    file(COPY ${_units_src}/tallix-engine.timer DESTINATION \${_dir})
    message(STATUS \"Installing: \${_dir}/tallix-engine.service, tallix-engine-once.service, tallix-engine.timer\")
")

if(TALLIX_BUILD_GUI)
    # The help set under the documentation directory, as Debian keeps documentation; the
    # manager looks for it there when its data directory has no "help".
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/manager/help/ DESTINATION ${TALLIX_DOC_INSTALL_DIR}/html)
    install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/tallix.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/tallix.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME tallix)
set(CPACK_PACKAGE_VENDOR "Vantroy Technologies")
set(CPACK_PACKAGE_CONTACT "Vantroy Technologies <support@tallix.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Extracts data from e-mail messages into delimited text files")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# libqrmime is part of the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
include(CPack)
