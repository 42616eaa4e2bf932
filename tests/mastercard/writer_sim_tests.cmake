# The writer device's protocol, and the simulated writer device on a
# pseudo-terminal, both in-process and as the writer-sim program.
target_sources(mastercard_tests PRIVATE writer_protocol_test.cpp)

add_module_test(writer_sim_tests
  writer_simulator_test.cpp
  writer_sim_tool_test.cpp
)
target_link_libraries(writer_sim_tests PRIVATE writer_sim_lib)
target_compile_definitions(writer_sim_tests PRIVATE WRITER_SIM_PATH="$<TARGET_FILE:writer-sim>")
add_dependencies(writer_sim_tests writer-sim)
