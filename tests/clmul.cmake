# The carry-less-multiply CRC-32 kernels (x86-64 only): natively, and on
# emulated processors with PCLMULQDQ but no AVX (Westmere), with AVX (so the
# detection reads XGETBV) but no AVX2 (SandyBridge), and without PCLMULQDQ
# (qemu64, where the kernel tests skip and nothing may fault).
if(ZELKOR_X86_64)
  find_package(GTest REQUIRED)
  find_package(ZLIB REQUIRED)
  add_executable(engine_clmul_test engine_clmul_test.cc $<TARGET_OBJECTS:zelkor_engine>)
  target_link_libraries(engine_clmul_test PRIVATE zelkor_code_flags GTest::gtest_main ZLIB::ZLIB)
  target_compile_options(engine_clmul_test PRIVATE -fexceptions)
  add_test(NAME engine_clmul COMMAND engine_clmul_test)
  set_tests_properties(engine_clmul PROPERTIES LABELS unit)

  foreach(cpu Westmere SandyBridge qemu64)
    add_test(NAME engine_clmul_${cpu}
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_emulated.sh ${cpu} $<TARGET_FILE:engine_clmul_test>)
    set_tests_properties(engine_clmul_${cpu} PROPERTIES LABELS qemu
                         ENVIRONMENT ZELKOR_SWEEP=quick SKIP_RETURN_CODE 77)
  endforeach()
endif()
