# The writer device's protocol, and the simulated writer device on a
# pseudo-terminal, both in-process and as the writer-sim program.
target_sources(mastercard_tests PRIVATE writer_protocol_test.cpp)
