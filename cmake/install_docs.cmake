# Run by cmake --install (and cpack): makes tarvo-publish's manual page with help2man, from its
# --help and --version and the examples in packaging/tarvo-publish.h2m, and gzips the Debian
# changelog, then installs both. SOURCE_DATE_EPOCH, when set, dates the manual page.
file(MAKE_DIRECTORY "${TARVO_PACKAGE_DIR}")
set(man_page "${TARVO_PACKAGE_DIR}/tarvo-publish.1")
execute_process(
  COMMAND "${TARVO_HELP2MAN}" --no-info --section=1 "--include=${TARVO_MAN_INCLUDE}"
          "--name=publish updates of the Velmora game client for the Tarvo launcher"
          "--output=${man_page}" "${TARVO_PUBLISH}"
  RESULT_VARIABLE made)
# -n: no name or time in the gzip header, so that the same page gives the same bytes.
if(made EQUAL 0)
  execute_process(COMMAND "${TARVO_GZIP}" -9nf "${man_page}" RESULT_VARIABLE made)
endif()
if(NOT made EQUAL 0)
  message(FATAL_ERROR "the manual page of ${TARVO_PUBLISH} could not be made")
endif()
execute_process(COMMAND "${TARVO_GZIP}" -9nc "${TARVO_CHANGELOG}"
                OUTPUT_FILE "${TARVO_PACKAGE_DIR}/changelog.gz" RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "the changelog could not be compressed")
endif()
file(INSTALL "${man_page}.gz" DESTINATION "${CMAKE_INSTALL_PREFIX}/${TARVO_MAN_DESTINATION}")
file(INSTALL "${TARVO_PACKAGE_DIR}/changelog.gz"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/${TARVO_DOC_DESTINATION}")
