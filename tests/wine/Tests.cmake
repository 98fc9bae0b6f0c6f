# The executable started and ended under Wine.
add_test(NAME SmokeUnderWine
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/smoke_test.py
          $<TARGET_FILE:RAVITOR> $<TARGET_FILE:SessionDriver>)
set_tests_properties(SmokeUnderWine PROPERTIES TIMEOUT 600)
