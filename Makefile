# Set-up and everyday commands. `make run` and `make test` install what is
# missing (Debian packages, as root), build, and then start VUM or run the suite.
# `make run-bochs` starts VUM in front of Debian's Bochs 2.7 (through the bridge)
# on the demo floppy; `make install PREFIX=...` installs VUM.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES   := cmake g++ make pkg-config libgtk2.0-dev libelf-dev googletest libgtest-dev \
              libbenchmark-dev xvfb xauth fonts-dejavu-core \
              nasm bochs bochs-x bochsbios vgabios
PREFIX     ?= /usr/local
# The fuzz targets are built with clang and its libFuzzer runtime.
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_ARGS  ?= -max_total_time=20

ifneq ($(filter run run-bochs,$(MAKECMDGOALS)),)
ifeq ($(strip $(DISPLAY)),)
$(error VUM needs an X display and DISPLAY is not set: run it inside an X session, or try "xvfb-run -a make run")
endif
endif

.PHONY: all deps configure build run run-bochs install test asan bench fuzz fuzz-run clean

all: build

deps:
	@./tools/install-deps $(PACKAGES)

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

# run and run-bochs build only what they start.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target vum vum-sim -- --no-print-directory
	PATH="$(abspath $(BUILD))/sim-bin:$$PATH" $(BUILD)/vum

run-bochs: configure
	@cmake --build $(BUILD) -j $(JOBS) --target vum vum-bridge -- --no-print-directory
	PATH="$(abspath $(BUILD))/bridge-bin:$$PATH" $(BUILD)/vum

install: configure
	@cmake --build $(BUILD) -j $(JOBS) --target vum vum-sim vum-bridge -- --no-print-directory
	cmake --install $(BUILD) --prefix $(PREFIX)

test: build
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(BUILD) --output-on-failure -j 4

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer, leaks
# checked; tools/lsan.supp names the toolkit's own memory that stays
# reachable through its caches until the process ends.
asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVUM_SANITIZE=ON -DVUM_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS) -- --no-print-directory
	ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp:print_suppressions=0 \
	  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(ASAN_BUILD) --output-on-failure -j 4

bench: build
	xvfb-run -a -s "-screen 0 1280x1024x24" ./bench/run $(BUILD)

# The libFuzzer targets (fuzz/), and a run of each from its seed corpus:
# make fuzz-run FUZZ_ARGS=-runs=1000000 for a long one.
fuzz:
	@./tools/install-deps $(PACKAGES) $(FUZZ_PACKAGES)
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVUM_FUZZ=ON -DVUM_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzzers -- --no-print-directory

fuzz-run: fuzz
	./tools/run-fuzzers build-fuzz $(FUZZ_ARGS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
