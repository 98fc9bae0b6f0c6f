# What an administrator deploys (docs/ADMIN.md), built into the build directory:
#   TolvexPellanSessionTimers-<version>-x64.msi  target msi, built with wixl,
#       msibuild and msiinfo (Debian packages wixl and msitools) by
#       deploy/BuildMsi.cmake from deploy/TolvexPellanSessionTimers.wxs;
#   PolicyDefinitions/  target policy-templates, the ADMX and ADML files.
# On a Linux host also the tests of both (tests/deploy/Tests.cmake).

set(RAVITOR_MSI_NAME "TolvexPellanSessionTimers-${PROJECT_VERSION}-x64.msi")
set(RAVITOR_MSI "${CMAKE_BINARY_DIR}/${RAVITOR_MSI_NAME}")
set(deploy_source "${PROJECT_SOURCE_DIR}/deploy")

find_program(RAVITOR_WIXL wixl)
find_program(RAVITOR_MSIBUILD msibuild)
find_program(RAVITOR_MSIINFO msiinfo)

if(RAVITOR_WIXL AND RAVITOR_MSIBUILD AND RAVITOR_MSIINFO)
  # The executables are signed when linked; the package is signed once built.
  set(sign_package)
  if(RAVITOR_SIGN_COMMAND)
    set(sign_package COMMAND ${RAVITOR_SIGN_COMMAND} -DFILE=${RAVITOR_MSI} ${RAVITOR_SIGN_SCRIPT})
  endif()
  add_custom_command(
    OUTPUT ${RAVITOR_MSI}
    COMMAND ${CMAKE_COMMAND}
            -DWIXL=${RAVITOR_WIXL}
            -DMSIBUILD=${RAVITOR_MSIBUILD}
            -DMSIINFO=${RAVITOR_MSIINFO}
            -DSOURCE=${deploy_source}/TolvexPellanSessionTimers.wxs
            -DVERSION=${PROJECT_VERSION}
            -DRAVITOR_EXE=$<TARGET_FILE:RAVITOR>
            -DTRACE_EXE=$<TARGET_FILE:RAVITOR-trace>
            -DSERVICE_EXE=$<TARGET_FILE:RAVITOR-service>
            -DICON_FILE=${PROJECT_SOURCE_DIR}/res/ravitor.ico
            -DOUTPUT=${RAVITOR_MSI}
            -P ${deploy_source}/BuildMsi.cmake
    ${sign_package}
    DEPENDS RAVITOR RAVITOR-trace RAVITOR-service ${RAVITOR_SIGNING_STAMP}
            ${deploy_source}/TolvexPellanSessionTimers.wxs
            ${deploy_source}/BuildMsi.cmake
            ${PROJECT_SOURCE_DIR}/res/ravitor.ico
    COMMENT "Building ${RAVITOR_MSI_NAME}"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${RAVITOR_MSI})
else()
  # Visual Studio builds have no wixl; on Linux the package tests then fail
  # and name the packages to install.
  message(STATUS "wixl, msibuild or msiinfo not found (Debian packages wixl and msitools): "
                 "${RAVITOR_MSI_NAME} is not built")
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo "Building ${RAVITOR_MSI_NAME} needs wixl, msibuild and msiinfo (Debian packages wixl and msitools)"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()

# The Group Policy templates, next to the package for whoever hands it out.
set(policy_templates
  TolvexPellanSessionTimers.admx
  en-US/TolvexPellanSessionTimers.adml
  de-DE/TolvexPellanSessionTimers.adml)
set(copied_policy_templates)
foreach(template IN LISTS policy_templates)
  set(copy ${CMAKE_BINARY_DIR}/PolicyDefinitions/${template})
  add_custom_command(
    OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E copy ${deploy_source}/PolicyDefinitions/${template} ${copy}
    DEPENDS ${deploy_source}/PolicyDefinitions/${template}
    VERBATIM)
  list(APPEND copied_policy_templates ${copy})
endforeach()
add_custom_target(policy-templates ALL DEPENDS ${copied_policy_templates})

if(CMAKE_HOST_UNIX)
  include(${PROJECT_SOURCE_DIR}/tests/deploy/Tests.cmake)
endif()
