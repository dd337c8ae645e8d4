# vj_module(NAME SOURCES... [LIBS ...]): one folder = one static library
# named vj_<NAME>, with the repository root as its include root.
function(vj_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(vj_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vj_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  if(ARG_LIBS)
    target_link_libraries(vj_${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# The GoogleTest suites defined in `files`, as a --gtest_filter pattern
# (parameterised suites appear as Prefix/Suite.Test/N).
function(_vj_suite_filter out files)
  set(suites)
  foreach(file ${files})
    file(READ ${CMAKE_CURRENT_SOURCE_DIR}/${file} text)
    string(REGEX MATCHALL "(TEST|TEST_F|TEST_P|TYPED_TEST)\\([ \t\r\n]*[A-Za-z0-9_]+" found "${text}")
    foreach(match ${found})
      string(REGEX REPLACE ".*\\([ \t\r\n]*" "" suite "${match}")
      list(APPEND suites ${suite})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES suites)
  set(filter)
  foreach(suite ${suites})
    list(APPEND filter "${suite}.*" "*/${suite}.*")
  endforeach()
  list(JOIN filter ":" filter)
  set(${out} "${filter}" PARENT_SCOPE)
  set(${out}_SUITES "${suites}" PARENT_SCOPE)
endfunction()

# vj_test(NAME [UNIT files...] [GL files...] [PROGRAM files...] [SOURCES helpers...] LIBS ...):
# one GoogleTest program per module. Its tests carry the CTest label of the
# group their file is listed in:
#   unit     in-process, no GL context (the quick loop: ctest -L unit)
#   gl       needs a GL context (headless llvmpipe)
#   program  spawns the vj or vjctl program
# A suite may belong to one group only.
function(vj_test name)
  cmake_parse_arguments(ARG "" "" "UNIT;GL;PROGRAM;SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(test_${name} ${ARG_UNIT} ${ARG_GL} ${ARG_PROGRAM} ${ARG_SOURCES}
                 ${CMAKE_SOURCE_DIR}/tests/support/test_env.cpp)
  set_target_properties(test_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE vj_test_support ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(seen)
  foreach(group UNIT GL PROGRAM)
    if(NOT ARG_${group})
      continue()
    endif()
    _vj_suite_filter(filter "${ARG_${group}}")
    foreach(suite ${filter_SUITES})
      if(suite IN_LIST seen)
        message(FATAL_ERROR "test_${name}: suite ${suite} is listed under two labels")
      endif()
    endforeach()
    list(APPEND seen ${filter_SUITES})
    string(TOLOWER ${group} label)
    gtest_discover_tests(test_${name}
      DISCOVERY_MODE PRE_TEST
      TEST_FILTER "${filter}"
      TEST_LIST test_${name}_${label}
      PROPERTIES ENVIRONMENT "VJ_NO_DIALOGS=1" LABELS ${label} ${ARG_PROPERTIES})
  endforeach()
endfunction()
