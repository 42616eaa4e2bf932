# The Windows edition, cross-built with mingw-w64 (cmake/mingw-w64-x86_64.cmake)
# and tested under Wine. Included by the top-level CMakeLists.txt instead of
# the Linux build: no Qt here. The program's platform-neutral parts build
# unchanged; the serial component runs on the Win32 device layer and on real
# message-only windows.
find_package(Threads REQUIRED)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

add_subdirectory(src/mastercard)
add_subdirectory(src/serial)
add_subdirectory(src/app)
add_subdirectory(packaging/windows)

# ---- Tests under Wine ----
enable_testing()

# GoogleTest from Debian's source package, built here for Windows.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # mingw's threads are std::thread's
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)  # brings GTest::gtest
include(GoogleTest)

# The modem-line library is a Linux library, preloaded into Wine's own
# processes, so the host's compiler builds it.
set(WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
set(PTY_MODEM_LINES ${CMAKE_BINARY_DIR}/libpty_modem_lines.so)
set(PTY_MODEM_LINES_SOURCE ${PROJECT_SOURCE_DIR}/tests/support/pty_modem_lines.c)
add_custom_command(OUTPUT ${PTY_MODEM_LINES}
  COMMAND cc -shared -fPIC -O2 -Wall -Wextra -o ${PTY_MODEM_LINES} ${PTY_MODEM_LINES_SOURCE} -ldl
  DEPENDS ${PTY_MODEM_LINES_SOURCE} VERBATIM)
add_custom_target(pty_modem_lines ALL DEPENDS ${PTY_MODEM_LINES})

# The line peer (tests/line_peer), a Linux program: the runner starts one for
# the whole run, linking its lines in the prefix's dosdevices folder.
set(LINE_PEER ${CMAKE_BINARY_DIR}/line_peer)

# Every Wine program of the run on one virtual X display: the window tests
# need one, and the Wine server's desktop process keeps the first it meets.
set(TEST_DISPLAY ${PROJECT_SOURCE_DIR}/tests/app/test-display ${CMAKE_BINARY_DIR}/display)
set(WINE_RUN ${TEST_DISPLAY} ${PROJECT_SOURCE_DIR}/tests/wine/wine-run --root ${WINE_ROOT} --preload ${PTY_MODEM_LINES}
    --line-peer ${LINE_PEER})
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})

# The display, one Wine server and one line peer for the whole run: started
# before the first test, stopped after the last (test discovery may already
# have started the server).
add_test(NAME test_display_start COMMAND ${TEST_DISPLAY} --start)
add_test(NAME test_display_stop COMMAND ${TEST_DISPLAY} --stop)
set_tests_properties(test_display_start PROPERTIES FIXTURES_SETUP wine_display LABELS windows)
set_tests_properties(test_display_stop PROPERTIES FIXTURES_CLEANUP wine_display LABELS windows)
add_test(NAME wine_server_start COMMAND ${WINE_RUN} --start)
add_test(NAME wine_server_stop COMMAND ${WINE_RUN} --stop)
set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine FIXTURES_REQUIRED wine_display
                     LABELS windows)
set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine FIXTURES_REQUIRED wine_display
                     LABELS windows)

# The Windows flavour of the test programs' helper (tests/CMakeLists.txt has
# the Linux one): tests are listed when CTest runs, under Wine, and each
# needs the Wine server. WINE_TEST_FILTER_<name> leaves out cases that check
# Linux-only behaviour; WINE_TEST_FIXTURES_<name> names more fixtures it needs.
# Programs that link COM ports share the dosdevices folder and the one line
# peer, so they take turns.
function(add_module_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
  set(filter "")
  if(DEFINED WINE_TEST_FILTER_${name})
    set(filter TEST_FILTER ${WINE_TEST_FILTER_${name}})
  endif()
  set(ports "")
  if(name MATCHES "^(serial_contract|serial_win32|app_win32_select)_tests$")
    set(ports RESOURCE_LOCK com_ports)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${filter}
    PROPERTIES LABELS windows FIXTURES_REQUIRED "wine;${WINE_TEST_FIXTURES_${name}}" ${ports})
endfunction()

add_subdirectory(tests/mastercard)
add_library(serial_fakes STATIC tests/serial/fakes/fake_device.cpp tests/serial/fakes/fake_owner.cpp)
target_include_directories(serial_fakes PUBLIC tests/serial/fakes)
target_link_libraries(serial_fakes PUBLIC sio_core GTest::gtest)
# The message table's texts for system error numbers are the Linux edition's
# own; on Windows they are the system's (see tests/serial/win32).
set(WINE_TEST_FILTER_sio_errors_tests "-SystemMessageText.*:ErrorMessageFor.LooksUpByAbsoluteValue:RaiseOnError.SystemTextIsCleanedToOneTrailingBlank")
add_subdirectory(tests/serial/errors)
add_subdirectory(tests/serial/core)
add_subdirectory(tests/serial/component)
add_subdirectory(tests/serial/win32)
add_subdirectory(tests/app)
add_subdirectory(tests/line_peer)
add_subdirectory(tests/serial/contract)
