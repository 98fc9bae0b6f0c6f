# The scenarios and the soak under Wine; both find the programs through
# RAVITOR_BUILD.
add_test(NAME EndToEndUnderWine
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/test_scenarios.py)
set_tests_properties(EndToEndUnderWine PROPERTIES TIMEOUT 900
  ENVIRONMENT "RAVITOR_BUILD=${CMAKE_BINARY_DIR}")
add_test(NAME SoakUnderWine
  COMMAND ${RAVITOR_TEST_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/test_soak.py)
set_tests_properties(SoakUnderWine PROPERTIES TIMEOUT 1500
  ENVIRONMENT "RAVITOR_BUILD=${CMAKE_BINARY_DIR}")
