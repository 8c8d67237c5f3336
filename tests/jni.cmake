# Tests of the JNI-facing modules: fake-JNIEnv unit tests, and the test-only
# JNI library that the JVM tests in java/ load.
find_package(GTest REQUIRED)

# The fake JNIEnv, for any test of JNI-facing code.
add_library(zelkor_fake_jni STATIC fake_jni_env.cc)
target_include_directories(zelkor_fake_jni PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(zelkor_fake_jni PUBLIC GTest::gtest JNI::JNI)

# The shared library's own (position-independent) objects.  dladdr is
# wrapped so that a test can make the dynamic loader know nothing.
add_executable(jni_unit_test
  errno_enum_test.cc native_code_loader_test.cc fake_jni_env_test.cc
  $<TARGET_OBJECTS:zelkor_jni>)
target_include_directories(jni_unit_test PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(jni_unit_test PRIVATE zelkor_fake_jni GTest::gtest_main ${CMAKE_DL_LIBS})
target_link_options(jni_unit_test PRIVATE -Wl,--wrap=dladdr)
add_test(NAME jni.unit COMMAND jni_unit_test)
set_tests_properties(jni.unit PROPERTIES LABELS unit)

# file_descriptor as native programs get it: from libzelkor.a.
add_executable(file_descriptor_static_test file_descriptor_test.cc)
target_link_libraries(file_descriptor_static_test PRIVATE zelkor_static zelkor_fake_jni
                      GTest::gtest_main)
add_test(NAME jni.file_descriptor_static COMMAND file_descriptor_static_test)
set_tests_properties(jni.file_descriptor_static PROPERTIES LABELS unit)

# Test-only JNI library for the JVM tests: never part of libzelkor.so.  It
# links against libzelkor.so, so it reaches the helpers through the export
# list, exactly as the host's native code would.
add_library(zelkor_jni_test_hooks SHARED jni_test_hooks.cc)
target_include_directories(zelkor_jni_test_hooks PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(zelkor_jni_test_hooks PRIVATE zelkor JNI::JNI)
target_link_options(zelkor_jni_test_hooks PRIVATE -Wl,-z,defs)
