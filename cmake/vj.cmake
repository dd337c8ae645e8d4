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

# vj_test(NAME SOURCES... LIBS ...): one GoogleTest program per module.
function(vj_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(test_${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/test_env.cpp)
  set_target_properties(test_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE vj_test_support ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(test_${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "VJ_NO_DIALOGS=1" ${ARG_PROPERTIES})
endfunction()
