# Project-wide compile settings and helpers.

add_compile_options(-Wall -Wextra -Wpedantic -Wno-missing-field-initializers)

if(PGX_SANITIZE AND PGX_SANITIZE_THREAD)
  message(FATAL_ERROR "PGX_SANITIZE and PGX_SANITIZE_THREAD exclude each other: pick one sanitizer build")
endif()
if(PGX_SANITIZE)
  set(_pgx_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_compile_options(${_pgx_san})
  add_link_options(${_pgx_san})
endif()
if(PGX_SANITIZE_THREAD)
  set(_pgx_san -fsanitize=thread -fno-omit-frame-pointer)
  add_compile_options(${_pgx_san})
  add_link_options(${_pgx_san})
endif()

# Every target includes from the repository root: #include "automation/bstr.h".
include_directories(${PROJECT_SOURCE_DIR})

if(PGX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "PGX_FUZZ needs clang (libFuzzer): use the fuzz preset")
  endif()
  # Coverage feedback for libFuzzer in every library; the fuzz targets link libFuzzer itself.
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()

# What ThreadSanitizer tolerates in the ThreadSanitizer build: every entry says why it is benign.
set(PGX_TSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/tsan-suppressions.txt)

# pgx_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [ENV <VAR=value...>] [THREADED])
# One GoogleTest program; each test case becomes its own ctest test. THREADED marks a program whose code
# under test runs on several threads (or talks to a process that does): the ThreadSanitizer build
# (PGX_THREADED_TESTS_ONLY) builds and runs only those.
function(pgx_add_test)
  cmake_parse_arguments(T "THREADED" "NAME" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT PGX_BUILD_TESTS OR (PGX_THREADED_TESTS_ONLY AND NOT T_THREADED))
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(_env "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1"
           "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
           "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${PGX_TSAN_SUPPRESSIONS}" ${T_ENV})
  # The environment is given by running each test (and the discovery) through `cmake -E env`: a list-valued
  # ENVIRONMENT property does not survive gtest_discover_tests, which splits it into separate properties.
  set_property(TARGET ${T_NAME} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${_env})
  # Test names carry their program ("sim_engine_test.Suite.Case") and each test is labelled with its program, so
  # `ctest -R sim_` or `ctest -L sim_engine_test` picks a layer or a program.
  gtest_discover_tests(${T_NAME}
    TEST_PREFIX "${T_NAME}."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS ${T_NAME})
endfunction()

# pgx_add_bench(NAME <bench_x> SOURCES <files...> LIBS <targets...>)
function(pgx_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT PGX_BUILD_BENCH)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY PGX_BENCH_TARGETS ${B_NAME})
endfunction()
