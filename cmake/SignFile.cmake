# Signs one file in place with osslsigncode (SHA-256 Authenticode):
#   cmake -DOSSLSIGNCODE=... -DCERTIFICATE=file.pfx [-DPASSWORD_FILE=...]
#         [-DTIMESTAMP_URL=...] [-DDESCRIPTION=...] -DFILE=... -P SignFile.cmake
# If signing fails the file is deleted, so that the failed build cannot be
# mistaken for a signed one and the next build makes the file again.
cmake_minimum_required(VERSION 3.25)

foreach(variable OSSLSIGNCODE CERTIFICATE FILE)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "SignFile.cmake needs -D${variable}=...")
  endif()
endforeach()

set(arguments sign -pkcs12 "${CERTIFICATE}" -h sha256)
if(PASSWORD_FILE)
  list(APPEND arguments -readpass "${PASSWORD_FILE}")
endif()
if(DESCRIPTION)
  list(APPEND arguments -n "${DESCRIPTION}")
endif()
if(TIMESTAMP_URL)
  list(APPEND arguments -ts "${TIMESTAMP_URL}")
endif()

set(signed "${FILE}.signed")
file(REMOVE "${signed}")
execute_process(
  COMMAND "${OSSLSIGNCODE}" ${arguments} -in "${FILE}" -out "${signed}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  file(REMOVE "${signed}" "${FILE}")
  message(FATAL_ERROR "Signing ${FILE} failed (${result}); the unsigned file is removed:\n${output}")
endif()
file(RENAME "${signed}" "${FILE}")
message(STATUS "Signed ${FILE}")
