# What every build's tests are made of: the end-to-end table as one test a
# case, and skipped tests that say why.

# One test for each case of the end-to-end table, so that ctest counts a case
# the table skips as skipped.
set(SHOWFILE_CASES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/e2e/cases.sh)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SHOWFILE_CASES_SCRIPT})
execute_process(COMMAND bash ${SHOWFILE_CASES_SCRIPT} --list
  OUTPUT_VARIABLE SHOWFILE_CASE_LIST OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" SHOWFILE_CASE_LIST "${SHOWFILE_CASE_LIST}")

# showfile_cases(VARIANT SLOWER ARG...): the tests e2e.VARIANT.CASE, each
# running `cases.sh --case CASE ARG...`, with the case's own timeout made
# SLOWER times longer for a slower runner. SHOWFILE_CASE_TESTS names them.
function(showfile_cases Variant Slower)
  set(Tests)
  foreach(Line IN LISTS SHOWFILE_CASE_LIST)
    separate_arguments(Line UNIX_COMMAND "${Line}")
    list(GET Line 0 Case)
    list(GET Line 1 Seconds)
    math(EXPR Seconds "${Seconds} * ${Slower}")
    set(Test e2e.${Variant}.${Case})
    add_test(NAME ${Test} COMMAND bash ${SHOWFILE_CASES_SCRIPT} --case ${Case} --timeout ${Seconds} ${ARGN})
    set_tests_properties(${Test} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT ${Seconds})
    list(APPEND Tests ${Test})
  endforeach()
  set(SHOWFILE_CASE_TESTS ${Tests} PARENT_SCOPE)
endfunction()

# skipped_test(NAME REASON): a test that says why it can't run here, and is
# counted as skipped, never as passed.
function(skipped_test Name Reason)
  add_test(NAME ${Name} COMMAND bash -c "echo \"skipped: ${Name}: $0\"; exit 77" "${Reason}")
  set_tests_properties(${Name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

