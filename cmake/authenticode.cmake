# Authenticode signing of Tarvo.exe, for operators who hold a code-signing certificate:
#   cmake --build --preset win32 --target authenticode
# signs the built Tarvo.exe in place with scripts/authenticode.sh. The PKCS#12 password is read
# at build time, from the file TARVO_AUTHENTICODE_PASSWORD_FILE names or else from the
# environment variable TARVO_AUTHENTICODE_PASSWORD; it is never stored in the cache or in a
# command line.
set(TARVO_AUTHENTICODE_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file (certificate, chain and private key) that the authenticode target signs with")
set(TARVO_AUTHENTICODE_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the PKCS#12 password; empty: the environment variable TARVO_AUTHENTICODE_PASSWORD when signing")
set(TARVO_AUTHENTICODE_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping server for the authenticode target (optional)")

if(TARVO_AUTHENTICODE_PKCS12)
  find_program(TARVO_BASH bash REQUIRED)
  set(sign_options --pkcs12 ${TARVO_AUTHENTICODE_PKCS12} --description ${PROJECT_NAME})
  if(TARVO_AUTHENTICODE_PASSWORD_FILE)
    list(APPEND sign_options --password-file ${TARVO_AUTHENTICODE_PASSWORD_FILE})
  endif()
  if(TARVO_AUTHENTICODE_TIMESTAMP_URL)
    list(APPEND sign_options --timestamp ${TARVO_AUTHENTICODE_TIMESTAMP_URL})
  endif()
  add_custom_target(authenticode
    COMMAND ${TARVO_BASH} ${PROJECT_SOURCE_DIR}/scripts/authenticode.sh ${sign_options}
            $<TARGET_FILE:tarvo>
    VERBATIM USES_TERMINAL)
else()
  add_custom_target(authenticode
    COMMAND ${CMAKE_COMMAND} -E echo
            "authenticode: set TARVO_AUTHENTICODE_PKCS12 to the PKCS#12 file of your code-signing certificate"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()
add_dependencies(authenticode tarvo)
