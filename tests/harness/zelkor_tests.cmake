# How tests are declared.  Every test is named <area>.<name>: the area is the
# folder below tests/ that declares it, with dots for slashes (io/nativeio
# gives io.nativeio), so a name says where to look, and the helpers derive it
# so that no folder can invent a form of its own.  A program's runs outside
# the plain process add one part to its name: .<cpu> on an emulated
# processor, .valgrind under memcheck.

set(ZELKOR_TEST_HARNESS ${CMAKE_CURRENT_LIST_DIR})
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH ZELKOR_TESTS_DIR)

function(zelkor_test_full_name out name)
  file(RELATIVE_PATH area ${ZELKOR_TESTS_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(area STREQUAL "" OR area MATCHES "^\\.\\.")
    message(FATAL_ERROR "test ${name}: declare tests in a folder below ${ZELKOR_TESTS_DIR}")
  endif()
  string(REPLACE "/" "." area ${area})
  set(${out} ${area}.${name} PARENT_SCOPE)
endfunction()

set(_zelkor_test_flags VALGRIND AARCH64 AARCH64_HWCAP HOST)
if(ZELKOR_AARCH64 AND CMAKE_CROSSCOMPILING)
  set(ZELKOR_AARCH64_CROSS ON)
else()
  set(ZELKOR_AARCH64_CROSS OFF)
endif()
set(_zelkor_test_values NAME TIMEOUT SKIP_RETURN_CODE)
# Patterns are lists: a test may give several of either kind.
set(_zelkor_test_lists COMMAND LABELS ENVIRONMENT PASS_REGULAR_EXPRESSION FAIL_REGULAR_EXPRESSION
                       EMULATE)

# zelkor_test(NAME <name> COMMAND <program target or command> [<args>...]
#             LABELS <labels>... [TIMEOUT <seconds>] [SKIP_RETURN_CODE <code>]
#             [ENVIRONMENT <VAR=value>...] [PASS_REGULAR_EXPRESSION <regex>...]
#             [FAIL_REGULAR_EXPRESSION <regex>...]
#             [EMULATE <cpu>...] [VALGRIND] [AARCH64 | AARCH64_HWCAP | HOST])
#
# Every run below carries the test's timeout, skip code, patterns and
# environment (_zelkor_add_run); a run adds its own label in place of the
# test's, and what its runner needs.
# EMULATE runs the same command again on each named processor, which must be
# one of ZELKOR_EMULATED_CPUS, under qemu-user (x86-64 hosts; label qemu).
# VALGRIND runs it under memcheck (label valgrind, 600 s in place of the
# test's timeout), except in a sanitizer build, whose runtime valgrind cannot
# host.  Both runs are slow, so they sample the sweeps (ZELKOR_SWEEP=quick),
# and both skip (77) where their tool is missing.
# AARCH64: a cross build for aarch64 declares it too, and runs it under
# qemu-aarch64 (label aarch64); a cross build has no other tests.
# AARCH64_HWCAP: the same, and on aarch64 it runs again with processor
# features hidden (ZELKOR_AARCH64_RUNS), for tests of the engine's choice.
# HOST: the command runs on the build machine and reaches the target's
# programs itself (a check of the binaries reads them; a harness runs them
# through run_aarch64.sh); a cross build runs it as it is, named
# <test>.aarch64 (label aarch64).
function(zelkor_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "${_zelkor_test_flags}" "${_zelkor_test_values}"
                        "${_zelkor_test_lists}")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_NAME OR NOT arg_COMMAND OR NOT arg_LABELS)
    message(FATAL_ERROR "zelkor_test(${ARGV}): needs NAME, COMMAND and LABELS, "
                        "and nothing unnamed")
  endif()
  zelkor_test_full_name(name ${arg_NAME})
  if(arg_AARCH64_HWCAP)
    set(arg_AARCH64 ON)
  endif()
  if(ZELKOR_AARCH64_CROSS AND NOT arg_AARCH64 AND NOT arg_HOST)
    return()
  endif()
  foreach(cpu IN LISTS arg_EMULATE)
    if(NOT cpu IN_LIST ZELKOR_EMULATED_CPUS)
      message(FATAL_ERROR "${name}: no emulated processor ${cpu} "
                          "(ZELKOR_EMULATED_CPUS: ${ZELKOR_EMULATED_CPUS})")
    endif()
  endforeach()

  list(POP_FRONT arg_COMMAND program)
  if(TARGET ${program})
    set(program $<TARGET_FILE:${program}>)
  endif()

  if(ZELKOR_AARCH64_CROSS AND arg_HOST)
    _zelkor_add_run(${name}.aarch64 LABELS aarch64 COMMAND ${program} ${arg_COMMAND})
    return()
  endif()
  if(ZELKOR_AARCH64 AND arg_AARCH64)
    set(runs aarch64)
    if(arg_AARCH64_HWCAP)
      set(runs ${ZELKOR_AARCH64_RUNS})
    endif()
    if(NOT ZELKOR_AARCH64_CROSS)
      list(REMOVE_ITEM runs aarch64)  # the plain run below
    endif()
    # qemu-aarch64 runs the whole sweeps in seconds: they are not sampled.
    foreach(run IN LISTS runs)
      _zelkor_add_run(${name}.${run} LABELS aarch64 SKIP_RETURN_CODE 77
        COMMAND ${ZELKOR_TEST_HARNESS}/run_aarch64.sh ${run} $<TARGET_FILE:zelkor_hwcap_shim>
                ${program} ${arg_COMMAND})
    endforeach()
  endif()
  if(ZELKOR_AARCH64_CROSS)
    return()
  endif()

  _zelkor_add_run(${name} LABELS ${arg_LABELS} COMMAND ${program} ${arg_COMMAND})
  if(ZELKOR_X86_64)
    foreach(cpu IN LISTS arg_EMULATE)
      _zelkor_add_run(${name}.${cpu} LABELS qemu SKIP_RETURN_CODE 77 EXTRA_ENV ZELKOR_SWEEP=quick
        COMMAND ${ZELKOR_TEST_HARNESS}/run_emulated.sh ${cpu} ${program} ${arg_COMMAND})
    endforeach()
  endif()
  if(arg_VALGRIND AND NOT ZELKOR_SANITIZER)
    # CTest passes output that matches a pass pattern whatever the exit
    # status, which is how memcheck reports its errors: with a pass pattern,
    # memcheck's error summary fails the run.
    set(memcheck_verdict "")
    if(DEFINED arg_PASS_REGULAR_EXPRESSION)
      set(memcheck_verdict EXTRA_FAIL_REGULAR_EXPRESSION "ERROR SUMMARY: [1-9]")
    endif()
    _zelkor_add_run(${name}.valgrind LABELS valgrind SKIP_RETURN_CODE 77 TIMEOUT 600
      EXTRA_ENV ZELKOR_SWEEP=quick ${memcheck_verdict}
      COMMAND ${ZELKOR_TEST_HARNESS}/run_valgrind.sh ${program} ${arg_COMMAND})
  endif()
endfunction()

# _zelkor_add_run(<name> LABELS <labels>... [SKIP_RETURN_CODE <code>]
#                 [TIMEOUT <seconds>] [EXTRA_ENV <VAR=value>...]
#                 [EXTRA_FAIL_REGULAR_EXPRESSION <regex>...] COMMAND <command>...)
#
# Adds one run of the test that zelkor_test is declaring; every run goes
# through here, so that none drops what the test declared.  It reads the
# test's properties from zelkor_test's arg_ variables, which a function sees
# in its caller's scope.  A runner's skip code and timeout take the place of
# the test's; its environment and fail patterns add to the test's.
function(_zelkor_add_run name)
  cmake_parse_arguments(PARSE_ARGV 1 run "" "SKIP_RETURN_CODE;TIMEOUT"
                        "LABELS;EXTRA_ENV;EXTRA_FAIL_REGULAR_EXPRESSION;COMMAND")
  if(run_UNPARSED_ARGUMENTS OR NOT run_LABELS OR NOT run_COMMAND)
    message(FATAL_ERROR "_zelkor_add_run(${ARGV}): needs LABELS and COMMAND")
  endif()
  add_test(NAME ${name} COMMAND ${run_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS "${run_LABELS}")
  foreach(property TIMEOUT SKIP_RETURN_CODE)
    if(DEFINED run_${property})
      set_tests_properties(${name} PROPERTIES ${property} ${run_${property}})
    elseif(DEFINED arg_${property})
      set_tests_properties(${name} PROPERTIES ${property} ${arg_${property}})
    endif()
  endforeach()
  set(environment ${arg_ENVIRONMENT} ${run_EXTRA_ENV})
  if(environment)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  endif()
  if(DEFINED arg_PASS_REGULAR_EXPRESSION)
    set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION
                         "${arg_PASS_REGULAR_EXPRESSION}")
  endif()
  set(fail_patterns ${arg_FAIL_REGULAR_EXPRESSION} ${run_EXTRA_FAIL_REGULAR_EXPRESSION})
  if(fail_patterns)
    set_tests_properties(${name} PROPERTIES FAIL_REGULAR_EXPRESSION "${fail_patterns}")
  endif()
endfunction()

# zelkor_gtest(<target> SOURCES <files>... [LIBS <libraries>...]
#              [INCLUDES <dirs>...] [DEFINITIONS <definitions>...]
#              [LINK_OPTIONS <options>...] [DEPENDS <targets>...] [X86_ONLY]
#              [NAME <name> LABELS <labels>... <other zelkor_test options>])
#
# A GoogleTest program (GTest::gtest_main linked in) and, given a NAME, its
# test as zelkor_test declares it, with the program as the command; without
# a NAME the caller declares the program's runs itself.  X86_ONLY: the
# program needs the x86-64 kernel tiers and exists nowhere else.  A cross
# build for aarch64 builds only the programs declared AARCH64 or
# AARCH64_HWCAP.
function(zelkor_gtest target)
  set(own_flags X86_ONLY)
  set(own_lists SOURCES LIBS INCLUDES DEFINITIONS LINK_OPTIONS DEPENDS)
  cmake_parse_arguments(PARSE_ARGV 1 arg "${own_flags};${_zelkor_test_flags}"
                        "${_zelkor_test_values}" "${own_lists};${_zelkor_test_lists}")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_SOURCES OR arg_COMMAND)
    message(FATAL_ERROR "zelkor_gtest(${ARGV}): needs SOURCES; the program is the COMMAND")
  endif()
  if(arg_X86_ONLY AND NOT ZELKOR_X86_64)
    return()
  endif()
  if(ZELKOR_AARCH64_CROSS AND NOT arg_AARCH64 AND NOT arg_AARCH64_HWCAP)
    return()
  endif()

  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE ${arg_LIBS} GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${arg_INCLUDES})
  target_compile_definitions(${target} PRIVATE ${arg_DEFINITIONS})
  target_link_options(${target} PRIVATE ${arg_LINK_OPTIONS})
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()

  if(NOT arg_NAME)
    if(arg_LABELS)
      message(FATAL_ERROR "zelkor_gtest(${target}): LABELS without a NAME for the test")
    endif()
    return()
  endif()
  set(test_args COMMAND ${target})
  foreach(option IN LISTS _zelkor_test_flags)
    if(arg_${option})
      list(APPEND test_args ${option})
    endif()
  endforeach()
  foreach(option IN LISTS _zelkor_test_values _zelkor_test_lists)
    if(DEFINED arg_${option})
      list(APPEND test_args ${option} ${arg_${option}})
    endif()
  endforeach()
  zelkor_test(${test_args})
endfunction()
