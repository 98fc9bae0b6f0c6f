# RAVITOR-service.exe: the session service, its Win32 layer over the portable
# ravitor_service_core, and its resources (version, manifest, the message
# table of its records from res/service/service-messages.mc, ASCII).
set(service_generated ${CMAKE_CURRENT_BINARY_DIR}/generated/service)
set(service_catalog ${PROJECT_SOURCE_DIR}/res/service/service-messages.mc)
file(MAKE_DIRECTORY ${service_generated})
configure_file(${PROJECT_SOURCE_DIR}/res/service/RAVITOR-service.manifest.in
  ${service_generated}/RAVITOR-service.manifest @ONLY)

# ASCII only, so mc and windmc read it as it is saved.
set(service_compile_catalog ${RAVITOR_MESSAGE_COMPILER} -U -h ${service_generated}
                            -r ${service_generated} ${service_catalog})
add_custom_command(
  OUTPUT ${service_generated}/service-messages.rc ${service_generated}/service-messages.h
  COMMAND ${service_compile_catalog}
  WORKING_DIRECTORY ${service_generated}
  DEPENDS ${service_catalog}
  COMMENT "Compiling the session service's message table"
  VERBATIM)

ravitor_add_windows_program(NAME RAVITOR-service CONSOLE
  SOURCES
    src/service/win32/ServiceMain.cpp
    src/service/win32/Win32ServicePlatform.cpp
    src/service/win32/ServiceChecks.cpp
    src/platform/win32/Win32RegistryRead.cpp
  RESOURCES res/service/RAVITOR-service.rc ${service_generated}/service-messages.rc
  LIBRARIES ravitor_service_core wtsapi32 userenv advapi32)
set_source_files_properties(${service_generated}/service-messages.rc PROPERTIES
  HEADER_FILE_ONLY ON)
set_source_files_properties(res/service/RAVITOR-service.rc PROPERTIES
  OBJECT_DEPENDS
  "${service_generated}/service-messages.rc;${service_generated}/RAVITOR-service.manifest;${generated_resources}/version.h")
target_include_directories(RAVITOR-service PRIVATE ${service_generated} ${generated_resources})
if(MSVC)
  target_link_options(RAVITOR-service PRIVATE /MANIFEST:NO)
endif()
ravitor_sign_target(RAVITOR-service)
