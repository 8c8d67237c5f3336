# The engine under load, bad input and damage (x86-64, where every kernel
# tier is built): many threads at once, a soak over a large buffer, the unit
# suites under valgrind, and the bulk driver's differential fuzz target.
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

if(ZELKOR_X86_64)
  # The bulk driver's differential fuzz target (fuzz/bulk_crc_fuzz.cc).  With
  # g++ it replays its seed corpus, fuzz/corpus/bulk_crc, as a test (label
  # unit, so the sanitizer build runs it too).  With clang and ZELKOR_FUZZ it
  # is a libFuzzer program under ASan and UBSan, the engine compiled with the
  # same instrumentation so that coverage guides the fuzzer through it.
  option(ZELKOR_FUZZ "Build the fuzz targets as libFuzzer programs (clang; tests/fuzz)" OFF)
  if(ZELKOR_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(bulk_crc_fuzz_flags -fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer -g)
    get_target_property(engine_sources zelkor_engine SOURCES)
    list(TRANSFORM engine_sources PREPEND ${PROJECT_SOURCE_DIR}/src/)
    add_library(zelkor_engine_fuzz OBJECT ${engine_sources})
    target_link_libraries(zelkor_engine_fuzz PUBLIC zelkor_code_flags)
    target_compile_options(zelkor_engine_fuzz PRIVATE -fsanitize=fuzzer-no-link ${bulk_crc_fuzz_flags})
    add_executable(bulk_crc_fuzz fuzz/bulk_crc_fuzz.cc $<TARGET_OBJECTS:zelkor_engine_fuzz>)
    target_compile_options(bulk_crc_fuzz PRIVATE -fsanitize=fuzzer ${bulk_crc_fuzz_flags})
    target_link_options(bulk_crc_fuzz PRIVATE -fsanitize=fuzzer ${bulk_crc_fuzz_flags})
  else()
    add_executable(bulk_crc_fuzz fuzz/bulk_crc_fuzz.cc fuzz/standalone_main.cc
                   $<TARGET_OBJECTS:zelkor_engine>)
    add_test(NAME fuzz.bulk_crc
             COMMAND bulk_crc_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/bulk_crc)
    set_tests_properties(fuzz.bulk_crc PROPERTIES LABELS unit)
  endif()
  target_include_directories(bulk_crc_fuzz PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                             ${CMAKE_CURRENT_SOURCE_DIR}/fuzz ${PROJECT_SOURCE_DIR}/src)
endif()
