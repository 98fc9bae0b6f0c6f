# RAVITOR.exe: the Win32 platform, the entry and the resources, including the
# message table compiled from res/messages.mc (UTF-8 with CRLF line endings),
# and the other Windows programs built with it.
include(${PROJECT_SOURCE_DIR}/cmake/AddWindowsProgram.cmake)
include(${PROJECT_SOURCE_DIR}/cmake/Signing.cmake)

set(generated_resources ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(catalog_source ${PROJECT_SOURCE_DIR}/res/messages.mc)
file(MAKE_DIRECTORY ${generated_resources})
# The version of project() for the resource script and the manifest.
set(RAVITOR_VERSION_DOTTED ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/res/version.h.in ${generated_resources}/version.h @ONLY)
foreach(program RAVITOR RAVITOR-trace)
  configure_file(${PROJECT_SOURCE_DIR}/res/${program}.manifest.in
    ${generated_resources}/${program}.manifest @ONLY)
endforeach()

if(MSVC)
  # mc.exe reads UTF-16: convert byte-exactly (CRLF and trailing blanks kept).
  find_program(RAVITOR_MESSAGE_COMPILER mc REQUIRED)
  set(catalog_utf16 ${generated_resources}/messages.mc)
  add_custom_command(
    OUTPUT ${generated_resources}/messages.rc ${generated_resources}/messages.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_resources}
    COMMAND powershell -NoProfile -Command
      "[IO.File]::WriteAllText('${catalog_utf16}', [IO.File]::ReadAllText('${catalog_source}', [Text.Encoding]::UTF8), [Text.Encoding]::Unicode)"
    COMMAND ${RAVITOR_MESSAGE_COMPILER} -u -U -h ${generated_resources} -r ${generated_resources} ${catalog_utf16}
    WORKING_DIRECTORY ${generated_resources}
    DEPENDS ${catalog_source}
    COMMENT "Compiling the message catalogue"
    VERBATIM)
else()
  if(NOT RAVITOR_MESSAGE_COMPILER)
    find_program(RAVITOR_MESSAGE_COMPILER windmc REQUIRED)
  endif()
  add_custom_command(
    OUTPUT ${generated_resources}/messages.rc ${generated_resources}/messages.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated_resources}
    COMMAND ${RAVITOR_MESSAGE_COMPILER} -U -C 65001 -h ${generated_resources} -r ${generated_resources} ${catalog_source}
    WORKING_DIRECTORY ${generated_resources}
    DEPENDS ${catalog_source}
    COMMENT "Compiling the message catalogue"
    VERBATIM)
endif()

set(ravitor_sources
  src/app/win32/WinMain.cpp
  src/platform/win32/Win32Registry.cpp
  src/platform/win32/Win32RegistryRead.cpp
  src/platform/win32/Win32Process.cpp
  src/platform/win32/Win32Windows.cpp
  src/platform/win32/Win32Checks.cpp
)
ravitor_add_windows_program(NAME RAVITOR
  SOURCES ${ravitor_sources}
  RESOURCES res/RAVITOR.rc ${generated_resources}/messages.rc
  LIBRARIES ravitor_core wtsapi32 advapi32 user32)
# messages.rc is included by RAVITOR.rc; listing it only makes it generated first.
set_source_files_properties(${generated_resources}/messages.rc PROPERTIES HEADER_FILE_ONLY ON)
set_source_files_properties(res/RAVITOR.rc PROPERTIES
  OBJECT_DEPENDS
  "${generated_resources}/messages.rc;${generated_resources}/RAVITOR.manifest;${generated_resources}/version.h;${PROJECT_SOURCE_DIR}/res/ravitor.ico")
target_include_directories(RAVITOR PRIVATE ${generated_resources} ${PROJECT_SOURCE_DIR}/res)

# The trace viewer shipped next to RAVITOR.exe.
ravitor_add_windows_program(NAME RAVITOR-trace CONSOLE
  SOURCES tools/trace/win32/TraceViewer.cpp
  RESOURCES res/RAVITOR-trace.rc
  LIBRARIES ravitor_trace_format)
set_source_files_properties(res/RAVITOR-trace.rc PROPERTIES
  OBJECT_DEPENDS "${generated_resources}/RAVITOR-trace.manifest;${generated_resources}/version.h")
target_include_directories(RAVITOR-trace PRIVATE ${generated_resources})

# What is shipped: each resource script embeds its manifest, so the MSVC
# linker must not add its own; each is signed when a certificate is set.
foreach(program RAVITOR RAVITOR-trace)
  if(MSVC)
    target_link_options(${program} PRIVATE /MANIFEST:NO)
  endif()
  ravitor_sign_target(${program})
endforeach()

# The session service that keeps RAVITOR.exe in every user session.
include(${PROJECT_SOURCE_DIR}/cmake/ServiceProgram.cmake)

# Drives a running RAVITOR.exe from another process in tests.
ravitor_add_windows_program(NAME SessionDriver CONSOLE
  SOURCES tests/driver/SessionDriver.cpp
  LIBRARIES user32 psapi)

# The bare program the resident figures are measured against.
include(${PROJECT_SOURCE_DIR}/cmake/Benchmarks.cmake)

# On a Linux host the programs are checked from outside and run under Wine.
# Each test is registered beside its script; the package's tests come with
# the package (Deployment.cmake).
if(CMAKE_HOST_UNIX)
  enable_testing()
  # Debian's python3-* packages (pefile) are installed for this interpreter.
  set(RAVITOR_TEST_PYTHON /usr/bin/python3)
endif()

# Packaging for administrators, when present.
include(${PROJECT_SOURCE_DIR}/cmake/Deployment.cmake OPTIONAL)

if(CMAKE_HOST_UNIX)
  include(${PROJECT_SOURCE_DIR}/tests/resources/Tests.cmake)
  include(${PROJECT_SOURCE_DIR}/tests/wine/Tests.cmake)
  include(${PROJECT_SOURCE_DIR}/tests/e2e/Tests.cmake)
endif()
