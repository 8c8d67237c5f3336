# The carry-less-multiply CRC-32 kernels (x86-64 only): natively, and under
# emulated processors with PCLMULQDQ but no AVX (Westmere) and without
# PCLMULQDQ (qemu64, where the kernel tests skip and nothing may fault).
if(ZELKOR_X86_64)
  find_package(GTest REQUIRED)
  find_package(ZLIB REQUIRED)
  add_executable(engine_clmul_test engine_clmul_test.cc $<TARGET_OBJECTS:zelkor_engine>)
  target_link_libraries(engine_clmul_test PRIVATE zelkor_code_flags GTest::gtest_main ZLIB::ZLIB)
  add_test(NAME engine_clmul COMMAND engine_clmul_test)
  set_tests_properties(engine_clmul PROPERTIES LABELS unit)

  find_program(ZELKOR_QEMU_X86_64 qemu-x86_64)
  if(ZELKOR_QEMU_X86_64)
    foreach(cpu Westmere qemu64)
      add_test(NAME engine_clmul_qemu_${cpu}
               COMMAND ${ZELKOR_QEMU_X86_64} -cpu ${cpu} $<TARGET_FILE:engine_clmul_test>)
      set_tests_properties(engine_clmul_qemu_${cpu} PROPERTIES
                           LABELS qemu ENVIRONMENT ZELKOR_SWEEP=quick)
    endforeach()
  else()
    message(WARNING "qemu-x86_64 not found (scripts/install-deps.sh installs it): "
                    "the emulated-processor tests are not registered")
  endif()
endif()

# sumwright's image carries this module too: its self-check is the program-level
# run on this branch, until the program's own tests take its place.
add_test(NAME sumwright_selfcheck COMMAND sumwright)
set_tests_properties(sumwright_selfcheck PROPERTIES LABELS program)
