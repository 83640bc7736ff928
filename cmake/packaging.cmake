# Installing tarvo-publish, and its Debian package (POSIX builds), once the target tarvo-publish
# is built (cmake --build --preset posix-release --target tarvo-publish):
#   cmake --install build/posix-release --prefix /usr/local
#   cpack -G DEB --config build/posix-release/CPackConfig.cmake
# install places the program, its manual page (help2man, from its --help and --version) and,
# in share/doc/tarvo-publish, the operator guide with the copyright and changelog files that
# Debian expects of every package. The package's dependencies come from the binary
# (dpkg-shlibdeps). SOURCE_DATE_EPOCH, when set, dates the manual page.
include(GNUInstallDirs)
find_program(TARVO_HELP2MAN help2man REQUIRED)
find_program(TARVO_GZIP gzip REQUIRED)

set(TARVO_PACKAGE_MAINTAINER "Tarvo developers <tarvo@example.com>" CACHE STRING
    "Maintainer named by the Debian package of tarvo-publish")

set(package_dir ${CMAKE_BINARY_DIR}/package)
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvo-publish)
install(TARGETS tarvo-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${PROJECT_SOURCE_DIR}/docs/operators.md
        DESTINATION ${doc_dir})
# The manual page and the compressed changelog are made as they are installed, from the
# program that is installed, so that building the target tarvo-publish alone is enough for
# cmake --install and cpack.
install(CODE "
  set(TARVO_HELP2MAN \"${TARVO_HELP2MAN}\")
  set(TARVO_GZIP \"${TARVO_GZIP}\")
  set(TARVO_PUBLISH \"$<TARGET_FILE:tarvo-publish>\")
  set(TARVO_MAN_INCLUDE \"${PROJECT_SOURCE_DIR}/packaging/tarvo-publish.h2m\")
  set(TARVO_CHANGELOG \"${PROJECT_SOURCE_DIR}/packaging/debian/changelog\")
  set(TARVO_PACKAGE_DIR \"${package_dir}\")
  set(TARVO_MAN_DESTINATION \"${CMAKE_INSTALL_MANDIR}/man1\")
  set(TARVO_DOC_DESTINATION \"${doc_dir}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/install_docs.cmake\")")

set(CPACK_PACKAGE_NAME tarvo-publish)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TARVO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "publish updates of the Velmora game client for the Tarvo launcher")
# Debian shows the description as it is: lines of at most 80 characters.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tarvo-publish compares two installation trees of the game client, writes\n"
    "an update archive of every file that the newer one adds or changes, and\n"
    "adds its entry to the version list that Tarvo, the game's launcher, reads\n"
    "from the update server. It also signs archives for launchers built with a\n"
    "public key, and checks an update site.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The same modes whatever the umask of whoever builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
set(CPACK_OUTPUT_FILE_PREFIX ${package_dir})
# CPack's work folder (_CPack_Packages) goes into the build folder, wherever cpack runs.
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
include(CPack)
