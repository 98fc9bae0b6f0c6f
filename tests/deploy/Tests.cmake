# The installer package and the Group Policy templates checked, and the
# package installed, started and removed under Wine; cmake/Deployment.cmake
# includes this with the variables it names the package and its tools by.

# Starts the Run value's command line the way the shell does (test only).
ravitor_add_windows_program(NAME RunKeyStarter CONSOLE
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RunKeyStarter.cpp)

# The package and the three programs it must hold, byte for byte.
set(package_and_programs
  --msi ${RAVITOR_MSI}
  --ravitor $<TARGET_FILE:RAVITOR>
  --trace $<TARGET_FILE:RAVITOR-trace>
  --service $<TARGET_FILE:RAVITOR-service>)

add_test(NAME DeployPackageTables
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_msi.py
          ${package_and_programs}
          --version ${PROJECT_VERSION})
add_test(NAME DeployPolicyTemplates
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_policy_templates.py
          --source ${PROJECT_SOURCE_DIR})
add_test(NAME DeployAdminGuide
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_admin_guide.py
          --source ${PROJECT_SOURCE_DIR})
# Installs, runs and uninstalls the package in a throw-away Wine prefix, and
# upgrades it with a second package that BuildMsi.cmake builds with a later
# fourth version field.
add_test(NAME DeployInstallUnderWine
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/install_test.py
          ${package_and_programs}
          --starter $<TARGET_FILE:RunKeyStarter>
          --version ${PROJECT_VERSION}
          --cmake ${CMAKE_COMMAND}
          --build-script ${deploy_source}/BuildMsi.cmake
          --wxs ${deploy_source}/TolvexPellanSessionTimers.wxs
          --icon ${PROJECT_SOURCE_DIR}/res/ravitor.ico
          --wixl ${RAVITOR_WIXL}
          --msibuild ${RAVITOR_MSIBUILD}
          --msiinfo ${RAVITOR_MSIINFO})
set_tests_properties(DeployInstallUnderWine PROPERTIES TIMEOUT 300)
# A second build signed with a throw-away certificate, every signature
# verified, and the signed program run under Wine.
add_test(NAME DeploySigning
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/signing_test.py
          ${package_and_programs}
          --driver $<TARGET_FILE:SessionDriver>
          --source ${PROJECT_SOURCE_DIR}
          --cmake ${CMAKE_COMMAND}
          "--signing-certificate=${RAVITOR_SIGNING_CERTIFICATE}")
set_tests_properties(DeploySigning PROPERTIES TIMEOUT 600)
# The package's default start method under Wine: the session service keeps
# RAVITOR.exe in the session, brings it back when it is ended while there is
# something to enforce, and goes with the package.
add_test(NAME DeployServiceUnderWine
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/service_test.py
          ${package_and_programs}
          --driver $<TARGET_FILE:SessionDriver>)
set_tests_properties(DeployServiceUnderWine PROPERTIES TIMEOUT 300)
