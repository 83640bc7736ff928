# Installing tarvo-publish, and its Debian package (POSIX builds):
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
set(man_page ${package_dir}/tarvo-publish.1)
add_custom_command(
  OUTPUT ${man_page}.gz
  COMMAND ${TARVO_HELP2MAN} --no-info --section=1
          "--name=publish updates of the Velmora game client for the Tarvo launcher"
          --output=${man_page} $<TARGET_FILE:tarvo-publish>
  # -n: no name or time in the gzip header, so that the same page gives the same bytes.
  COMMAND ${TARVO_GZIP} -9nf ${man_page}
  DEPENDS tarvo-publish
  VERBATIM)
add_custom_command(
  OUTPUT ${package_dir}/changelog.gz
  COMMAND ${TARVO_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
          > ${package_dir}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
add_custom_target(tarvo-publish-docs ALL DEPENDS ${man_page}.gz ${package_dir}/changelog.gz)

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tarvo-publish)
install(TARGETS tarvo-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${package_dir}/changelog.gz
              ${PROJECT_SOURCE_DIR}/docs/operators.md
        DESTINATION ${doc_dir})

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
include(CPack)
