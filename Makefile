# The developer's entry points. Every target installs what is missing first,
# so each works on a fresh Debian 12 machine.
CMAKE_CONFIG = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
CTEST = ctest --output-on-failure --timeout 300
PROGRAM = build/plain/src/app/mastercard-writer

.PHONY: all deps build program test test-plain test-asan test-tsan test-windows windows run demo package bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B build/plain $(CMAKE_CONFIG)
	cmake --build build/plain

# Only the program and the simulated writer device, not the test programs:
# what run, demo and package need.
program: deps
	cmake -S . -B build/plain $(CMAKE_CONFIG)
	cmake --build build/plain --target mastercard-writer writer-sim

# Plain build, then AddressSanitizer + UndefinedBehaviorSanitizer, then the
# serial tests under ThreadSanitizer, then the Windows programs under Wine.
# One after another: the serial timing tests want the machine to themselves.
test: test-plain test-asan test-tsan test-windows

test-plain: build
	$(CTEST) --test-dir build/plain

test-asan: deps
	cmake -S . -B build/asan $(CMAKE_CONFIG) -DSANITIZE=address
	cmake --build build/asan
	$(CTEST) --test-dir build/asan

test-tsan: deps
	cmake -S . -B build/tsan $(CMAKE_CONFIG) -DSANITIZE=thread
	cmake --build build/tsan --target serial_test_programs
	$(CTEST) --test-dir build/tsan -L serial

# The Windows edition: cross-built with mingw-w64 into build/windows, its
# tests run under Wine (a prefix of its own in build/windows/wine).
WINDOWS_CONFIG = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

windows: deps
	cmake -S . -B build/windows $(WINDOWS_CONFIG)
	nice cmake --build build/windows

test-windows: windows
	$(CTEST) --test-dir build/windows -L windows -j2

run: program
	$(PROGRAM)

# The program wired to the simulated writer device, linked as COM3.
demo: deps
	scripts/demo

# The Debian package, from the plain build's binaries, into build/plain/package.
package: program
	cpack --config build/plain/CPackConfig.cmake

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_BENCHMARKS=ON
	cmake --build build/bench
	cmake --build build/bench --target run-benchmarks

clean:
	rm -rf build

# Puts each fault of scripts/mutants.txt into a copy of the source, one at a
# time, and lists the faults no test notices. Not part of `make test`.
# A subset: make mutate MUTATE_ARGS="-o dispatch_ring" (see scripts/mutate -h).
.PHONY: mutate
mutate: deps
	nice scripts/mutate $(MUTATE_ARGS)
