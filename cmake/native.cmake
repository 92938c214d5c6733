# The native (Linux) build: portable code, stand-ins, tests, server, benchmarks.
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
enable_testing()

set(QV_SANITIZE "" CACHE STRING "Sanitizers for the native build: address,undefined or thread")
set(QV_WARNINGS -Wall -Wextra -Wshadow -Wno-missing-field-initializers -Werror=return-type)
# The everyday build stops at any warning, so none goes unseen; the
# sanitizer and fuzzing builds (other flags, other compiler) only report them.
if(NOT QV_SANITIZE AND NOT QV_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND QV_WARNINGS -Werror)
endif()
if(QV_SANITIZE)
  add_compile_options(-fsanitize=${QV_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${QV_SANITIZE})
endif()

# The portable code and the native system services.
add_library(qv_core STATIC ${qv_portable} ${qv_posix})
target_compile_options(qv_core PRIVATE ${QV_WARNINGS})
target_link_libraries(qv_core PUBLIC ZLIB::ZLIB Threads::Threads)

# Stand-ins for the devices (window notifications, picture, sound, joystick).
add_library(qv_stubs STATIC ${qv_stub})
target_compile_options(qv_stubs PRIVATE ${QV_WARNINGS})
target_link_libraries(qv_stubs PUBLIC qv_core)

# Unit tests: every tests/unit/*_test.cpp (also built for Windows) and
# tests/native/*_test.cpp (native only).
file(GLOB qv_unit_tests CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp
     ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
file(GLOB qv_test_support CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
if(qv_unit_tests)
  add_executable(quorvane_tests ${qv_unit_tests} ${qv_test_support})
  target_compile_options(quorvane_tests PRIVATE ${QV_WARNINGS})
  target_link_libraries(quorvane_tests PRIVATE qv_stubs qv_core GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(quorvane_tests DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endif()

foreach(extra server tests/moonlight bench fuzz tests/e2e package/linux)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${extra}/CMakeLists.txt)
    add_subdirectory(${extra})
  endif()
endforeach()
