# The resources of the built executable, read from outside with pefile.
add_test(NAME ResourcesOfTheExecutable
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_resources.py
          $<TARGET_FILE:RAVITOR>)
