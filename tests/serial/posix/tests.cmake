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
