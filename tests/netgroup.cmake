# Netgroup listing (security/JniBasedUnixGroupsNetgroupMapping).  Its JVM
# tests against the real name service are in java/CMakeLists.txt.
find_package(GTest REQUIRED)

# A fake JNIEnv, a scripted netgroup enumeration and a failing allocator
# (label unit): the module's object as libzelkor.so carries it, linked with
# its platform calls wrapped.
add_executable(netgroup_mapping_wrap_test
  security/netgroup_mapping_wrap_test.cc $<TARGET_OBJECTS:zelkor_netgroup>)
target_link_libraries(netgroup_mapping_wrap_test PRIVATE zelkor_fake_jni GTest::gtest_main)
target_link_options(netgroup_mapping_wrap_test PRIVATE
  -Wl,--wrap=setnetgrent,--wrap=getnetgrent,--wrap=endnetgrent,--wrap=malloc,--wrap=free)
add_test(NAME netgroup.wrap COMMAND netgroup_mapping_wrap_test)
set_tests_properties(netgroup.wrap PROPERTIES LABELS unit)
