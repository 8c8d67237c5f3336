# Wide CRC kernels and the driver's choice of path (x86-64 only).
if(ZELKOR_X86_64)
  find_package(GTest REQUIRED)
  add_executable(engine_wide_test engine_wide_test.cc $<TARGET_OBJECTS:zelkor_engine>)
  target_link_libraries(engine_wide_test PRIVATE zelkor_code_flags GTest::gtest_main)
  add_test(NAME engine_wide COMMAND engine_wide_test)
  set_tests_properties(engine_wide PROPERTIES LABELS unit)

  # Emulated processors: qemu64 lacks SSE4.2 (table tier), Nehalem has SSE4.2
  # without PCLMULQDQ (the specified routines only), Westmere has both (every
  # kernel).  The sweeps are sampled there.
  foreach(cpu qemu64 Nehalem Westmere)
    add_test(NAME engine_wide_qemu_${cpu}
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_emulated.sh ${cpu} $<TARGET_FILE:engine_wide_test>)
    set_tests_properties(engine_wide_qemu_${cpu} PROPERTIES LABELS qemu
                         ENVIRONMENT ZELKOR_SWEEP=quick SKIP_RETURN_CODE 77)
  endforeach()
endif()
