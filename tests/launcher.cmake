# SPDX-License-Identifier: Apache-2.0
# The launcher's tests: in-process ones that run in every preset, and
# end-to-end ones that run the real binary on real VMs (everyday build only:
# the VM's own signal handling makes AddressSanitizer unreliable).

add_executable(launcher_tests launcher_options_test.cpp launcher_run_test.cpp class_cache_test.cpp service_ready_test.cpp)
# The launcher's messages land in the file each test names (log_capture.cpp).
target_link_libraries(launcher_tests PRIVATE velta_launcher velta_platform velta_log_capture
                      velta_test_support GTest::gtest_main)
target_compile_definitions(launcher_tests PRIVATE
  VELTA_FAKE_JVM="$<TARGET_FILE:velta_fake_jvm>"
  VELTA_NO_CREATE_VM="$<TARGET_FILE:velta_no_create_vm>")
add_dependencies(launcher_tests velta_fake_jvm velta_no_create_vm)
gtest_discover_tests(launcher_tests)

# End to end: the real binary, a copy of it whose system configuration lies
# in the build tree, and Java programs compiled for the oldest VM supported.
include(UseJava)
set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Werror)
file(GLOB_RECURSE velta_java_sources CONFIGURE_DEPENDS java/*.java)
add_jar(velta_test_programs SOURCES ${velta_java_sources})
get_target_property(velta_test_jar velta_test_programs JAR_FILE)
get_target_property(velta_test_classes velta_test_programs CLASSDIR)

velta_add_platform(velta_platform_test_config "${CMAKE_CURRENT_BINARY_DIR}/system.conf")
velta_add_launcher(velta-java-test-sysconfig velta_platform_test_config)

# An end-to-end test program runs the real binaries, so its tests are
# registered in the everyday build only. Each knows velta-java and the Java
# test programs' jar; DEFINITIONS, DEPENDS and PROPERTIES add what else it needs.
function(velta_add_e2e_test name)
  cmake_parse_arguments(PARSE_ARGV 1 e2e "" "" "DEFINITIONS;DEPENDS;PROPERTIES")
  add_executable(${name} ${e2e_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE velta_test_support GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VELTA_JAVA="$<TARGET_FILE:velta-java>" VELTA_TEST_JAR="${velta_test_jar}" ${e2e_DEFINITIONS})
  add_dependencies(${name} velta-java velta_test_programs ${e2e_DEPENDS})
  if(VELTA_SANITIZE)
    return()
  endif()
  if(e2e_PROPERTIES)
    gtest_discover_tests(${name} PROPERTIES ${e2e_PROPERTIES})
  else()
    gtest_discover_tests(${name})
  endif()
endfunction()

velta_add_e2e_test(launcher_e2e_tests launcher_e2e_test.cpp
  DEFINITIONS
    VELTA_JAVA_CHECK="$<TARGET_FILE:velta-java-check>"
    VELTA_TEST_CLASSES="${velta_test_classes}"
    VELTA_SYSTEM_LOG="$<TARGET_FILE:velta-test-system-log>"
    VELTA_VERSION="${PROJECT_VERSION}"
    VELTA_JAVA_SYSCONFIG="$<TARGET_FILE:velta-java-test-sysconfig>"
    VELTA_TEST_SYSTEM_CONFIG="${CMAKE_CURRENT_BINARY_DIR}/system.conf"
    VELTA_FAKE_JVM="$<TARGET_FILE:velta_fake_jvm>"
    VELTA_NO_CREATE_VM="$<TARGET_FILE:velta_no_create_vm>"
  DEPENDS velta-java-check velta-test-system-log velta-java-test-sysconfig velta_fake_jvm velta_no_create_vm
  PROPERTIES RUN_SERIAL TRUE)

# velta-java-check beside velta-java; a copy of it reads its system
# configuration from a file of its own in the build tree.
velta_add_platform(velta_platform_check_config "${CMAKE_CURRENT_BINARY_DIR}/check-system.conf")
velta_add_checker(velta-java-check-test-sysconfig velta_platform_check_config)
velta_add_e2e_test(check_e2e_tests check_e2e_test.cpp
  DEFINITIONS
    VELTA_JAVA_CHECK="$<TARGET_FILE:velta-java-check>"
    VELTA_JAVA_CHECK_SYSCONFIG="$<TARGET_FILE:velta-java-check-test-sysconfig>"
    VELTA_CHECK_SYSTEM_CONFIG="${CMAKE_CURRENT_BINARY_DIR}/check-system.conf"
    VELTA_BUILD_JVM="${JAVA_JVM_LIBRARY}"
    VELTA_FAKE_JVM="$<TARGET_FILE:velta_fake_jvm>"
    VELTA_NO_CREATE_VM="$<TARGET_FILE:velta_no_create_vm>"
    VELTA_ZERO_CREATE_VM="$<TARGET_FILE:velta_zero_create_vm>"
  DEPENDS velta-java-check velta-java-check-test-sysconfig velta_fake_jvm velta_no_create_vm velta_zero_create_vm)

# The examples on the JDK the build found.
get_target_property(velta_heartbeat_jar velta_heartbeat JAR_FILE)
velta_add_e2e_test(examples_e2e_tests examples_e2e_test.cpp
  DEFINITIONS
    VELTA_BUILD_JVM="${JAVA_JVM_LIBRARY}"
    VELTA_SAMPLE_CONF="${PROJECT_BINARY_DIR}/examples/sample.conf"
    VELTA_HEARTBEAT_CONF="${PROJECT_BINARY_DIR}/examples/heartbeat.conf"
    VELTA_HEARTBEAT_JAR="${velta_heartbeat_jar}"
    VELTA_BUNDLE="${PROJECT_BINARY_DIR}/examples/bundle/app"
  DEPENDS velta_sample velta_heartbeat velta_bundle velta_bundle_runtime)
