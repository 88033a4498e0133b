# SPDX-License-Identifier: Apache-2.0
# Faults and hostile input: allocation failures at every site, strange files
# and hostile configurations, and a soak of many real runs. Uses the targets
# of launcher.cmake.

# Allocation failures are injected by wrapping the allocator at link time; the
# static libraries' calls are wrapped too (support/failing_allocator.h).
add_executable(config_alloc_tests config_alloc_test.cpp)
target_link_libraries(config_alloc_tests PRIVATE velta_config velta_args velta_failing_allocator velta_test_support
                      GTest::gtest_main)
target_link_options(config_alloc_tests PRIVATE ${velta_wrap_allocator})
gtest_discover_tests(config_alloc_tests)

add_executable(launcher_alloc_tests launcher_alloc_test.cpp)
target_link_libraries(launcher_alloc_tests PRIVATE velta_launcher velta_platform velta_log_capture
                      velta_failing_allocator velta_test_support GTest::gtest_main)
target_link_options(launcher_alloc_tests PRIVATE ${velta_wrap_allocator})
target_compile_definitions(launcher_alloc_tests PRIVATE VELTA_FAKE_JVM="$<TARGET_FILE:velta_fake_jvm>")
add_dependencies(launcher_alloc_tests velta_fake_jvm)
gtest_discover_tests(launcher_alloc_tests)

# Which main-class names reach the stand-in VM's FindClass.
target_sources(launcher_tests PRIVATE main_class_name_test.cpp)

# Every read the configuration reader makes is seen by the test.
add_executable(hostile_input_tests hostile_input_test.cpp)
target_link_libraries(hostile_input_tests PRIVATE velta_config velta_test_support GTest::gtest_main)
target_link_options(hostile_input_tests PRIVATE -Wl,--wrap=read)
gtest_discover_tests(hostile_input_tests)

# End to end, in the everyday build only (see launcher.cmake); a hang fails
# the test at its timeout.
velta_add_e2e_test(hostile_input_e2e_tests hostile_input_e2e_test.cpp PROPERTIES RUN_SERIAL TRUE TIMEOUT 120)

add_executable(config_random_tests config_random_test.cpp)
target_link_libraries(config_random_tests PRIVATE velta_config velta_test_support GTest::gtest_main)
gtest_discover_tests(config_random_tests)

# Real VMs: everyday build only. ctest runs 40; tests/soak runs the full 500.
velta_add_e2e_test(launcher_soak_tests launcher_soak_test.cpp PROPERTIES RUN_SERIAL TRUE TIMEOUT 1800)
