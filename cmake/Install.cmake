# What `cmake --install` puts where, and the Debian package (`cpack -G DEB`).
include(GNUInstallDirs)

install(TARGETS plumadex plumadex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The program folder: settings template, trusted roots, welcome messages, default skin.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/plumadex)

set(PX_APP_ID org.plumadex.Plumadex)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/${PX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/${PX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/desktop/icons/${PX_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${CMAKE_SOURCE_DIR}/desktop/icons/${PX_APP_ID}-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${PX_APP_ID}.png)
endforeach()

set(CPACK_PACKAGE_NAME plumadex)
set(CPACK_PACKAGE_VENDOR "Plumadex")
set(CPACK_PACKAGE_CONTACT "Plumadex developers <developers@plumadex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail client and organiser for documents, contacts and notes")
set(CPACK_PACKAGE_DESCRIPTION "Plumadex shows documents, mail, contacts (vCard files) and sticker notes as
ordinary files in ordinary folders, with a hidden index per folder. It receives mail
from POP3 accounts and its own service, sends through SMTP or the service, and files
received mail into folders.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies are read off the binaries' shared libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_PROVIDES "mail-reader")
set(CPACK_GENERATOR DEB)
include(CPack)

# The installed tree and the package are checked like the rest: desktop entry, metainfo,
# program folder found from the installed binary, package contents and dependencies.
add_test(NAME install_tree_and_package
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-install.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install_tree_and_package PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
