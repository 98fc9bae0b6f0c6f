# The bare Win32 program that scripts/bench measures RAVITOR.exe against
# (benchmarks/floor/FloorProgram.cpp), built exactly like it: same compiler,
# flags and static runtime.
add_executable(FloorProgram WIN32 ${PROJECT_SOURCE_DIR}/benchmarks/floor/FloorProgram.cpp)
target_include_directories(FloorProgram PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(FloorProgram PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(FloorProgram PRIVATE user32 advapi32)
set_target_properties(FloorProgram PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
if(MSVC)
  set_property(TARGET FloorProgram PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
else()
  target_link_options(FloorProgram PRIVATE -municode -static -s)
endif()
