# kv_discover_tests(TARGET [LOCKS ...] [TIMEOUT seconds]): CTest discovers the GoogleTest
# cases of TARGET and runs each under Wine, with the locks and the environment every case
# needs, each within TIMEOUT seconds (120 when not given).
# gtest_discover_tests' PROPERTIES would keep only the first item of a list, so the
# properties are set from an include file that CTest reads after the discovery's own.
function(kv_discover_tests target)
  cmake_parse_arguments(KV "" "TIMEOUT" "LOCKS" ${ARGN})
  if(NOT KV_TIMEOUT)
    set(KV_TIMEOUT 120)
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake")
  set(content "if(${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES TIMEOUT ${KV_TIMEOUT}\n")
  string(APPEND content "    ENVIRONMENT \"KV_SOURCE_DIR=${PROJECT_SOURCE_DIR};KV_BINARY_DIR=${PROJECT_BINARY_DIR}\"")
  if(KV_LOCKS)
    string(APPEND content "\n    RESOURCE_LOCK \"${KV_LOCKS}\"")
  endif()
  string(APPEND content ")\nendif()\n")
  file(WRITE ${script} "${content}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# kv_library(NAME [DEPS ...]): a static library of every .cpp in the calling folder
# (tests excluded), and, when <folder>/tests holds *_test.cpp files, one GoogleTest
# executable NAME_tests of them (with the shared test main, tests/support) whose cases
# CTest discovers and runs under Wine.
# LOCKS names shared resources (a driver, the trace file) whose tests must not run
# at the same time as other tests holding the same lock; every case is its own process.
function(kv_library name)
  cmake_parse_arguments(KV "" "" "DEPS;TEST_DEPS;LOCKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${KV_DEPS})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  if(tests)
    file(GLOB test_helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_support.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_support_win.cpp)
    add_executable(${name}_tests ${tests} ${test_helpers})
    target_link_libraries(${name}_tests PRIVATE ${name} ${KV_TEST_DEPS} kvtest_main)
    kv_discover_tests(${name}_tests LOCKS ${KV_LOCKS})
  endif()
endfunction()

# kv_benchmark(NAME SOURCES ... DEPS ...): a benchmark executable that prints figures;
# the `bench` target runs every one of them under Wine in the build folder's prefix.
# Each run is a target of its own (run_NAME) that `bench` depends on, so that folders
# other than the top one can add benchmarks. `bench` ends the prefix's server once every
# run is done; a single run_NAME leaves it up for the next one
# (scripts/wine-prefix.sh down BUILD_DIR ends it).
if(NOT TARGET bench)
  add_custom_target(bench
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh down ${PROJECT_BINARY_DIR}
    USES_TERMINAL)
  add_custom_target(bench_prefix_up
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh up ${PROJECT_BINARY_DIR}
    USES_TERMINAL)
endif()
function(kv_benchmark name)
  cmake_parse_arguments(KV "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${KV_SOURCES})
  target_link_libraries(${name} PRIVATE ${KV_DEPS})
  add_custom_target(run_${name}
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:${name}>
    DEPENDS ${name} USES_TERMINAL)
  add_dependencies(run_${name} bench_prefix_up)
  add_dependencies(bench run_${name})
endfunction()
