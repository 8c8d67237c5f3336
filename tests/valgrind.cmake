# The native unit test programs under valgrind's memcheck (label valgrind),
# with the sweeps sampled.  Not sumwright, whose timing loops would take
# hours there, and not in a sanitizer build, whose runtime valgrind cannot
# host.  valgrind's virtual processor has AVX2 but no VPCLMULQDQ (nor
# AVX-512), and it cannot decode VPCLMULQDQ: the load-time choice and the
# tier hooks see that through CPUID, so the tiers built on it are skipped
# here by the tests' own checks and run natively under the sanitizers.
# Deferred to the end of this directory, when every program is defined.
function(zelkor_valgrind_tests)
  set(zelkor_valgrind_programs
    engine_tests engine_wide_test engine_concurrency_test capi_test
    zelkor_group_info_wrap_test jni_unit_test file_descriptor_static_test
    netgroup_mapping_wrap_test)
  foreach(program IN LISTS zelkor_valgrind_programs)
    if(TARGET ${program})
      add_test(NAME valgrind.${program}
               COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_valgrind.sh $<TARGET_FILE:${program}>)
    endif()
  endforeach()
  # The fuzz target's seed corpus, replayed.
  if(TARGET bulk_crc_fuzz AND NOT ZELKOR_FUZZ)
    add_test(NAME valgrind.bulk_crc_fuzz
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_valgrind.sh $<TARGET_FILE:bulk_crc_fuzz>
                     ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/bulk_crc)
  endif()
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(FILTER tests INCLUDE REGEX "^valgrind\\.")
  set_tests_properties(${tests} PROPERTIES LABELS valgrind
                       ENVIRONMENT ZELKOR_SWEEP=quick SKIP_RETURN_CODE 77 TIMEOUT 600)
endfunction()
if(NOT ZELKOR_SANITIZER)
  cmake_language(DEFER CALL zelkor_valgrind_tests)
endif()
