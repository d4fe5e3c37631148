# One ctest per row of the end-to-end table, so a failure names its case. LAUNCH goes before the
# driver (a Wine prefix wrapper, say), OPTIONS after it; PROPERTIES are added to every test.
function(cleave_add_e2e_cases)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "LAUNCH;OPTIONS;PROPERTIES")
  set(table ${PROJECT_SOURCE_DIR}/tests/e2e/cases.json)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  file(READ ${table} cases)
  string(JSON count LENGTH "${cases}" cases)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON name GET "${cases}" cases ${i} name)
    add_test(NAME e2e.${name}
             COMMAND ${arg_LAUNCH} ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/e2e/driver.py
                     ${arg_OPTIONS} --case ${name})
    set_tests_properties(e2e.${name} PROPERTIES LABELS e2e SKIP_REGULAR_EXPRESSION "^SKIP "
                                                ${arg_PROPERTIES})
  endforeach()
endfunction()
