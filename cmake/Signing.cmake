# Authenticode signing of what is shipped: RAVITOR.exe, RAVITOR-trace.exe,
# RAVITOR-service.exe and the installer package, with osslsigncode (Debian
# package osslsigncode).
#
#   RAVITOR_SIGNING_CERTIFICATE     a PKCS#12 file (.pfx) holding the
#                                   code-signing certificate and its key
#   RAVITOR_SIGNING_PASSWORD_FILE   a file whose first line is its password
#                                   (none: a PKCS#12 file without one)
#   RAVITOR_SIGNING_TIMESTAMP_URL   an RFC 3161 time-stamp server (optional)
#
# Each is a cache variable that takes its first value from the environment
# variable of the same name. Without a certificate nothing is signed, the
# build says so, and the files are the same as ever.

set(RAVITOR_SIGNING_CERTIFICATE "$ENV{RAVITOR_SIGNING_CERTIFICATE}" CACHE FILEPATH
  "PKCS#12 file with the code-signing certificate; empty: an unsigned build")
set(RAVITOR_SIGNING_PASSWORD_FILE "$ENV{RAVITOR_SIGNING_PASSWORD_FILE}" CACHE FILEPATH
  "File holding the PKCS#12 file's password")
set(RAVITOR_SIGNING_TIMESTAMP_URL "$ENV{RAVITOR_SIGNING_TIMESTAMP_URL}" CACHE STRING
  "RFC 3161 time-stamp server for the signatures")

set(RAVITOR_SIGN_COMMAND "")
if(RAVITOR_SIGNING_CERTIFICATE)
  if(NOT EXISTS "${RAVITOR_SIGNING_CERTIFICATE}")
    message(FATAL_ERROR "RAVITOR_SIGNING_CERTIFICATE: ${RAVITOR_SIGNING_CERTIFICATE} does not exist")
  endif()
  if(RAVITOR_SIGNING_PASSWORD_FILE AND NOT EXISTS "${RAVITOR_SIGNING_PASSWORD_FILE}")
    message(FATAL_ERROR
      "RAVITOR_SIGNING_PASSWORD_FILE: ${RAVITOR_SIGNING_PASSWORD_FILE} does not exist")
  endif()
  find_program(RAVITOR_OSSLSIGNCODE osslsigncode)
  if(NOT RAVITOR_OSSLSIGNCODE)
    message(FATAL_ERROR "RAVITOR_SIGNING_CERTIFICATE is set but osslsigncode is not installed "
                        "(Debian package osslsigncode)")
  endif()
  message(STATUS "Signing RAVITOR.exe, RAVITOR-trace.exe, RAVITOR-service.exe and the package with "
                 "${RAVITOR_SIGNING_CERTIFICATE}")
  # The command up to the file, for POST_BUILD steps and the package; the
  # file and then RAVITOR_SIGN_SCRIPT follow (cmake takes -D only before -P).
  set(RAVITOR_SIGN_SCRIPT -P ${PROJECT_SOURCE_DIR}/cmake/SignFile.cmake)
  set(RAVITOR_SIGN_COMMAND
    ${CMAKE_COMMAND}
    -DOSSLSIGNCODE=${RAVITOR_OSSLSIGNCODE}
    -DCERTIFICATE=${RAVITOR_SIGNING_CERTIFICATE}
    -DPASSWORD_FILE=${RAVITOR_SIGNING_PASSWORD_FILE}
    -DTIMESTAMP_URL=${RAVITOR_SIGNING_TIMESTAMP_URL}
    "-DDESCRIPTION=Tolvex Pellan Session Timers")
else()
  message(STATUS "Unsigned build: set RAVITOR_SIGNING_CERTIFICATE to sign the executables "
                 "and the package (docs/ADMIN.md, \"Signing with your own certificate\")")
endif()

# Written only when the certificate changes: what is signed is linked again.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/signing-certificate.txt
  CONTENT "${RAVITOR_SIGNING_CERTIFICATE}\n")
set(RAVITOR_SIGNING_STAMP ${CMAKE_BINARY_DIR}/signing-certificate.txt)

# Signs the target's file right after it is linked.
function(ravitor_sign_target target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${RAVITOR_SIGNING_STAMP})
  if(RAVITOR_SIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${RAVITOR_SIGN_COMMAND} -DFILE=$<TARGET_FILE:${target}> ${RAVITOR_SIGN_SCRIPT}
      COMMENT "Signing ${target}"
      VERBATIM)
  else()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E echo "${target}: unsigned (no RAVITOR_SIGNING_CERTIFICATE)"
      VERBATIM)
  endif()
endfunction()
