# The resources of the built executables, read from outside with pefile.
add_test(NAME ResourcesOfTheExecutable
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_resources.py
          $<TARGET_FILE:RAVITOR> $<TARGET_FILE:RAVITOR-trace>
          $<TARGET_FILE:RAVITOR-service>)
