# The engine under load, bad input and damage (x86-64, where every kernel
# tier is built): many threads at once, a soak over a large buffer, the unit
# suites under valgrind.  (The bulk driver's differential fuzz target is in fuzz/.)
if(ZELKOR_X86_64)
  find_package(GTest REQUIRED)
  find_package(Threads REQUIRED)

  # Threads computing and verifying at once under every tier (label
  # concurrency, which the ThreadSanitizer build runs; also unit).  One case
  # loads libzelkor.so itself from many threads.
  add_executable(engine_concurrency_test engine_concurrency_test.cc $<TARGET_OBJECTS:zelkor_engine>)
  target_link_libraries(engine_concurrency_test PRIVATE zelkor_code_flags GTest::gtest_main
                        Threads::Threads ${CMAKE_DL_LIBS})
  target_compile_options(engine_concurrency_test PRIVATE -fexceptions)
  target_include_directories(engine_concurrency_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(engine_concurrency_test PRIVATE
                             ZELKOR_LIBRARY_PATH="$<TARGET_FILE:zelkor>")
  add_dependencies(engine_concurrency_test zelkor)
  add_test(NAME engine_concurrency COMMAND engine_concurrency_test)
  set_tests_properties(engine_concurrency PROPERTIES LABELS "unit;concurrency")
endif()

if(ZELKOR_X86_64)
  # Verify passes over a buffer of 1 GiB with random damage (label soak), for
  # about 20 s; ZELKOR_SOAK=long runs 30 minutes over 4 GiB, and the knobs in
  # the test's header set time, size and seed.
  find_package(ZLIB REQUIRED)
  add_executable(engine_soak_test engine_soak_test.cc $<TARGET_OBJECTS:zelkor_engine>)
  target_link_libraries(engine_soak_test PRIVATE zelkor_code_flags GTest::gtest_main ZLIB::ZLIB)
  target_compile_options(engine_soak_test PRIVATE -fexceptions)
  target_include_directories(engine_soak_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME engine_soak COMMAND engine_soak_test)
  set_tests_properties(engine_soak PROPERTIES LABELS soak TIMEOUT 3600)
endif()
