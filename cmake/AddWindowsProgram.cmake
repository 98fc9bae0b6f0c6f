# ravitor_add_windows_program: every Windows executable of the project, built alike.
#
#   ravitor_add_windows_program(NAME name SOURCES file... [RESOURCES file.rc...]
#                               [LIBRARIES library...] [CONSOLE])
#
# A GUI program (wWinMain) unless CONSOLE is given (wmain). Every program gets
# the wide-character Win32 API, the static C and C++ runtime (it must run on a
# server with no runtime DLL beyond those Windows ships) and lands in the top
# of the build directory, where the tests, the package and scripts/ look for
# it. Warnings come from the project-wide compile options, which the core
# libraries share.

# enable_language may not be called from inside a function.
enable_language(RC)

function(ravitor_add_windows_program)
  cmake_parse_arguments(PARSE_ARGV 0 program "CONSOLE" "NAME" "SOURCES;RESOURCES;LIBRARIES")
  if(NOT program_NAME OR NOT program_SOURCES)
    message(FATAL_ERROR "ravitor_add_windows_program needs NAME and SOURCES")
  endif()
  if(program_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "ravitor_add_windows_program(${program_NAME}): unknown arguments "
                        "${program_UNPARSED_ARGUMENTS}")
  endif()
  set(subsystem WIN32)
  if(program_CONSOLE)
    set(subsystem "")
  endif()

  add_executable(${program_NAME} ${subsystem} ${program_SOURCES} ${program_RESOURCES})
  # Every program may use the Win32 side's owners in src/platform/win32.
  target_include_directories(${program_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  # The definitions reach the resource compiler too: the .rc files include <windows.h>.
  target_compile_definitions(${program_NAME} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  if(program_LIBRARIES)
    target_link_libraries(${program_NAME} PRIVATE ${program_LIBRARIES})
  endif()
  set_target_properties(${program_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

  if(MSVC)
    # The linker picks wWinMain or wmain by itself. The project's own static
    # libraries must use the same runtime as the program, or the link fails
    # on mismatched runtime library records.
    set(runtime_users ${program_NAME})
    foreach(library IN LISTS program_LIBRARIES)
      if(TARGET ${library})
        get_target_property(type ${library} TYPE)
        if(type STREQUAL "STATIC_LIBRARY")
          list(APPEND runtime_users ${library})
        endif()
      endif()
    endforeach()
    set_property(TARGET ${runtime_users} PROPERTY MSVC_RUNTIME_LIBRARY
      "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  else()
    # -municode: the wide-character entry; -static: no libstdc++, libgcc or
    # winpthread DLL; -s: no symbols in what is shipped; --tsaware: a
    # terminal-server program, which sees the session's own Windows folder and
    # registry without the mapping Windows gives older programs (the MSVC
    # linker sets it by default).
    target_link_options(${program_NAME} PRIVATE -municode -static -s -Wl,--tsaware)
  endif()
endfunction()
