# GoogleTest: Debian's package natively; compiled from /usr/src/googletest for MinGW.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# One test executable per *_test.cpp file; each test case becomes a CTest test.
# Discovery runs the executable, under Wine for the Windows build: there it waits until
# ctest runs (one start at a time, on the test command's warm Wine server) instead of
# starting many Wine processes in parallel with the build. The first start of a fresh
# prefix is slow.
if(WIN32)
  set(ZORVIA_DISCOVERY_MODE PRE_TEST)
else()
  set(ZORVIA_DISCOVERY_MODE POST_BUILD)
endif()
function(zorvia_add_test_file source)
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_link_libraries(${name} PRIVATE zorvia_app zorvia_test_support zorvia_flavour_e2e
                        GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE ${ZORVIA_DISCOVERY_MODE}
                       PROPERTIES ENVIRONMENT "ZORVIA_BUILD_DIR=${CMAKE_BINARY_DIR}"
                       ${ARGN})
endfunction()
