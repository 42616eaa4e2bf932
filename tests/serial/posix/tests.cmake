# Tests of the Linux device layer on pseudo-terminals. Included from
# tests/serial so that add_module_test labels them "serial".
add_module_test(serial_posix_tests
  ${CMAKE_CURRENT_LIST_DIR}/posix_system_error_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_port_map_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_termios_line_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_device_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix_dispatcher_test.cpp
)
target_link_libraries(serial_posix_tests PRIVATE sio_posix)
set_target_properties(serial_posix_tests PROPERTIES AUTOMOC OFF)

# The device layer and the component on an emulated UART (tests/uart_emulator):
# timing of the transmitter, modem lines, line errors, exclusive access.
add_subdirectory(${PROJECT_SOURCE_DIR}/tests/uart_emulator ${CMAKE_BINARY_DIR}/tests/uart_emulator)
add_module_test(serial_uart_tests
  ${CMAKE_CURRENT_LIST_DIR}/uart_device_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uart_com_port_test.cpp
  com_port_test_support.cpp
  fake_device.cpp
)
# The emulator comes before the C library, so its system calls are the ones
# the device layer reaches.
target_link_libraries(serial_uart_tests PRIVATE uart_emulator sio_component)
