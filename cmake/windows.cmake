# The Windows build (toolchain cmake/mingw-i586.cmake): quorvane.exe for
# Windows 98, the unit tests as quorvane_tests.exe run under Wine, the
# Windows 98 compatibility check and the zip for users.
enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# CMake would add advapi32, shell32, ole32 and more to every link.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

set(QV_WARNINGS -Wall -Wextra -Wshadow -Wno-missing-field-initializers -Werror=return-type)
# Code that goes into quorvane.exe: no exceptions, no RTTI, no guards for
# local statics (they would need libstdc++), MSVCRT's own printf family.
set(QV_EXE_FLAGS -O2 -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -D__USE_MINGW_ANSI_STDIO=0)

# --- zlib from Debian's source, compiled for i586 ----------------------------
set(QV_ZLIB_HOME /var/cache/quorvane/zlib CACHE PATH "Where Debian's zlib source is unpacked (fetched when missing)")
if(NOT EXISTS ${QV_ZLIB_HOME}/src/zlib.h)
  execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fetch-zlib.sh ${QV_ZLIB_HOME}
                  RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0)
    # No room under /var/cache (not root): fetch into the build folder.
    set(QV_ZLIB_HOME ${CMAKE_BINARY_DIR}/zlib CACHE PATH "" FORCE)
    execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fetch-zlib.sh ${QV_ZLIB_HOME}
                    RESULT_VARIABLE fetched)
  endif()
  if(NOT fetched EQUAL 0)
    message(FATAL_ERROR "zlib's source could not be fetched (run scripts/setup.sh as root)")
  endif()
endif()
set(qv_zlib_dir ${QV_ZLIB_HOME}/src)
# The gz* file functions are left out: the client only inflates in memory
# (the tests also deflate).
add_library(qv_zlib STATIC
  ${qv_zlib_dir}/adler32.c ${qv_zlib_dir}/compress.c ${qv_zlib_dir}/crc32.c
  ${qv_zlib_dir}/deflate.c ${qv_zlib_dir}/infback.c ${qv_zlib_dir}/inffast.c
  ${qv_zlib_dir}/inflate.c ${qv_zlib_dir}/inftrees.c ${qv_zlib_dir}/trees.c
  ${qv_zlib_dir}/uncompr.c ${qv_zlib_dir}/zutil.c)
target_compile_options(qv_zlib PRIVATE -O2 -fno-asynchronous-unwind-tables)
target_include_directories(qv_zlib SYSTEM PUBLIC ${qv_zlib_dir})
add_library(ZLIB::ZLIB ALIAS qv_zlib)

# --- The portable code and the Windows system services ----------------------
add_library(qv_core STATIC ${qv_portable} ${qv_win32_system})
target_compile_options(qv_core PRIVATE ${QV_EXE_FLAGS} ${QV_WARNINGS})
target_link_libraries(qv_core PUBLIC qv_zlib)

# --- quorvane.exe ----------------------------------------------------------------
# The icon group 1, drawn as text in app/icon/.
set(qv_icon_pictures ${CMAKE_SOURCE_DIR}/app/icon/quorvane-16.txt ${CMAKE_SOURCE_DIR}/app/icon/quorvane-32.txt)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/quorvane.ico
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/make_icon.py ${CMAKE_BINARY_DIR}/quorvane.ico ${qv_icon_pictures}
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make_icon.py ${qv_icon_pictures}
  COMMENT "Drawing quorvane.ico")
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/quorvane_rc.o
  COMMAND ${CMAKE_RC_COMPILER} --target=pe-i386 -I ${CMAKE_BINARY_DIR}
          -i ${CMAKE_SOURCE_DIR}/app/quorvane.rc -o ${CMAKE_BINARY_DIR}/quorvane_rc.o
  DEPENDS ${CMAKE_SOURCE_DIR}/app/quorvane.rc ${CMAKE_BINARY_DIR}/quorvane.ico
  COMMENT "Compiling the resources")

# The devices (window, picture, sound, joystick), the entry and WinMain go
# into the exe only.
add_executable(quorvane ${qv_win32_device} ${CMAKE_BINARY_DIR}/quorvane_rc.o)
target_compile_options(quorvane PRIVATE ${QV_EXE_FLAGS} ${QV_WARNINGS})
# No C runtime start-up (app/entry_win32.cpp is the entry), no libstdc++;
# MSVCRT, the system DLLs and libgcc's helpers only. Subsystem and OS version
# 4.0 so that Windows 95/98 load it; a map to see what libgcc gave.
target_link_options(quorvane PRIVATE
  -nostdlib -nostartfiles -static
  -Wl,-e,_quorvane_entry
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,-Map,${CMAKE_BINARY_DIR}/quorvane.map)
target_link_libraries(quorvane PRIVATE qv_core qv_zlib
  msvcrt kernel32 user32 gdi32 wsock32 winmm gcc msvcrt kernel32)

# --- Unit tests under Wine ------------------------------------------------------
# Built from GoogleTest's source with the same compiler. The test program is
# an ordinary console program (mingw's start-up, libstdc++ linked in).
set(QV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source")
set(QV_WINEPREFIX "$ENV{HOME}/.wine-quorvane" CACHE PATH "Wine prefix for the test runs")
if(DEFINED ENV{WINEPREFIX})
  set(QV_WINEPREFIX "$ENV{WINEPREFIX}" CACHE PATH "" FORCE)
endif()
set(qv_wine_environment "WINEPREFIX=${QV_WINEPREFIX}" "WINEDEBUG=-all" "DISPLAY=" "WAYLAND_DISPLAY=")

file(GLOB qv_unit_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
file(GLOB qv_test_support CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
if(qv_unit_tests)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${QV_GTEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The win32 thread model of this compiler has no std::mutex, std::thread
  # or std::condition_variable: GoogleTest gets a Notification of its own
  # (cmake/gtest-win32), and tests start threads with thread_start
  # (core/sys.h), never std::thread.
  target_include_directories(gtest BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/cmake/gtest-win32)

  add_library(qv_stubs STATIC ${qv_stub})
  target_compile_options(qv_stubs PRIVATE ${QV_WARNINGS})
  target_link_libraries(qv_stubs PUBLIC qv_core)

  add_executable(quorvane_tests ${qv_unit_tests} ${qv_test_support})
  # GCC 12 for i686 reports false -Warray-bounds and -Wstringop-* inside libstdc++'s
  # vector::insert at -O2 (a byte vector grown by insert at its end); the
  # product code keeps the warning.
  target_compile_options(quorvane_tests PRIVATE ${QV_WARNINGS}
    -Wno-array-bounds -Wno-stringop-overread -Wno-stringop-overflow)
  # qv_stubs twice: portable code in qv_core (the main window's logic) calls
  # device stand-ins (window, settings dialog) that live in qv_stubs.
  target_link_libraries(quorvane_tests PRIVATE qv_stubs qv_core qv_stubs gtest gtest_main
    wsock32 winmm gdi32 user32 kernel32)
  target_link_options(quorvane_tests PRIVATE -static)
  # One entry for the whole program: each Wine start costs about a second.
  add_test(NAME windows_unit_tests
           COMMAND quorvane_tests --gtest_output=xml:quorvane_tests.xml)
  set_tests_properties(windows_unit_tests PROPERTIES
    ENVIRONMENT "${qv_wine_environment};QV_SOURCE_DIR=Z:${CMAKE_SOURCE_DIR}"
    TIMEOUT 600)
endif()

# --- Windows 98 compatibility check and the package ------------------------------
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/win98 ${CMAKE_BINARY_DIR}/win98)
if(EXISTS ${CMAKE_SOURCE_DIR}/package/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/package ${CMAKE_BINARY_DIR}/package)
endif()

# --- End-to-end tests (tests/e2e) -------------------------------------------------
# quorvane.exe under Wine on its own Xvfb screen against a fake server.
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/e2e ${CMAKE_BINARY_DIR}/e2e-tests)
