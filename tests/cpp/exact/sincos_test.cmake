# Built only in the exact-rotations build: cmake/exact_rotations.cmake includes this file at the
# end of the top-level directory, once testing is enabled. The program sits with the other tests.
find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(engine_sincos_test ${CMAKE_CURRENT_LIST_DIR}/engine_sincos_test.cpp)
target_link_libraries(engine_sincos_test PRIVATE engine GTest::gtest GTest::gtest_main)
set_target_properties(engine_sincos_test PROPERTIES
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/cpp)
gtest_discover_tests(engine_sincos_test DISCOVERY_MODE PRE_TEST)
# The same comparison with AVX2 and FMA hidden from glibc, so that sin_cos takes MPFR.
add_test(NAME engine_sincos_test.without_fma
         COMMAND engine_sincos_test --gtest_filter=ExactSinCos.ChosenPathMatchesMpfr)
set_tests_properties(engine_sincos_test.without_fma PROPERTIES
                     ENVIRONMENT "GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-AVX2")
