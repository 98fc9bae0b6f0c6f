# The bare Win32 program that scripts/bench measures RAVITOR.exe against
# (benchmarks/floor/FloorProgram.cpp), built exactly like it: same compiler,
# flags and static runtime.
ravitor_add_windows_program(NAME FloorProgram
  SOURCES ${PROJECT_SOURCE_DIR}/benchmarks/floor/FloorProgram.cpp
  LIBRARIES user32 advapi32)

# The bare service that the session service's idle cost is measured against.
ravitor_add_windows_program(NAME FloorService CONSOLE
  SOURCES ${PROJECT_SOURCE_DIR}/benchmarks/floor/FloorService.cpp
  LIBRARIES advapi32)
