# Group record fetch (security/zelkor_group_info).
find_package(GTest REQUIRED)

# Scripted getgrgid_r and a failing allocator (label unit): the module's
# object as libzelkor.a carries it, linked with its platform calls wrapped.
add_executable(zelkor_group_info_wrap_test
  security/zelkor_group_info_wrap_test.cc
  security/zelkor_group_info_c_layout.c)
set_source_files_properties(security/zelkor_group_info_c_layout.c PROPERTIES
  COMPILE_OPTIONS "-std=c11;-pedantic-errors")
target_link_libraries(zelkor_group_info_wrap_test PRIVATE zelkor_static GTest::gtest_main)
target_link_options(zelkor_group_info_wrap_test PRIVATE
  -Wl,--wrap=getgrgid_r -Wl,--wrap=malloc -Wl,--wrap=calloc
  -Wl,--wrap=realloc -Wl,--wrap=free)
add_test(NAME groups.wrap COMMAND zelkor_group_info_wrap_test)
set_tests_properties(groups.wrap PROPERTIES LABELS unit)

# The real glibc name service (label nss), through libzelkor.so's exports,
# one fixture per test: a private mount namespace with its own /etc/group.
# Without root or namespaces the harness reports a skip (77) and why.
set(ZELKOR_NSS_HARNESS ${CMAKE_CURRENT_SOURCE_DIR}/nss/with_nss_fixture.sh)
set(groups_fixtures ${CMAKE_CURRENT_BINARY_DIR}/nss-fixtures)
add_custom_command(
  OUTPUT ${groups_fixtures}/groups-large/group ${groups_fixtures}/groups-huge/group
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/nss/make_group_fixtures.sh ${groups_fixtures}
  DEPENDS nss/make_group_fixtures.sh
  COMMENT "Writing the large group fixtures")
add_custom_target(zelkor_group_fixtures ALL
  DEPENDS ${groups_fixtures}/groups-large/group ${groups_fixtures}/groups-huge/group)

add_executable(zelkor_group_info_nss_test security/zelkor_group_info_nss_test.cc)
target_link_libraries(zelkor_group_info_nss_test PRIVATE zelkor GTest::gtest_main)
target_include_directories(zelkor_group_info_nss_test PRIVATE ${PROJECT_SOURCE_DIR}/src)
add_dependencies(zelkor_group_info_nss_test zelkor_group_fixtures)

foreach(suite_fixture
    "NssSmallGroups;${CMAKE_CURRENT_SOURCE_DIR}/nss/fixtures/groups-small"
    "NssLargeGroup;${groups_fixtures}/groups-large"
    "NssHugeGroup;${groups_fixtures}/groups-huge"
    "NssGidExtremes;${CMAKE_CURRENT_SOURCE_DIR}/nss/fixtures/groups-extremes"
    "NssConcurrentRecords;${groups_fixtures}/groups-large"
    "NssSoak;${groups_fixtures}/groups-large")
  list(GET suite_fixture 0 suite)
  list(GET suite_fixture 1 fixture)
  add_test(NAME groups.nss.${suite}
    COMMAND bash ${ZELKOR_NSS_HARNESS} ${fixture}
            $<TARGET_FILE:zelkor_group_info_nss_test> --gtest_filter=${suite}.*)
  set_tests_properties(groups.nss.${suite} PROPERTIES LABELS nss SKIP_RETURN_CODE 77)
endforeach()
# Records on separate threads run under ThreadSanitizer too; the million
# fetches run in the soak stage only.
set_tests_properties(groups.nss.NssConcurrentRecords PROPERTIES LABELS "nss;concurrency")
set_tests_properties(groups.nss.NssSoak PROPERTIES LABELS soak TIMEOUT 1800)
