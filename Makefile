# Convenience front end for CMake. `make` and `make test` build with
# warnings as errors (TW_WERROR); a packager's own cmake run does not.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# CMAKE_ARGS passes further options, e.g. CMAKE_ARGS=-DTW_SANITIZE=ON.
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DTW_WERROR=ON $(CMAKE_ARGS) >/dev/null

.PHONY: all build test demo bench fuzz install deb deb-check clean

all: build

build:
	@$(CONFIGURE)
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Only the program, and its build output only when the build fails.
demo:
	@$(CONFIGURE)
	@cmake --build $(BUILD) --target tarnwick -j $(JOBS) >$(BUILD)/demo-build.log 2>&1 || { cat $(BUILD)/demo-build.log; exit 1; }
	@sh examples/demo.sh $(BUILD)/tarnwick
	@sh examples/demo_netmail.sh $(BUILD)/tarnwick

# Import and export of 10,000 and 100,000 generated messages, each beside a
# plain copy of its input (fails when a message is missing from the output),
# 300 mails a third of which carry a 1 MB attachment, a hosted list of
# 100000 subscribers, and stored netmail. bench/reference.sh checks that
# the outputs stay byte for byte the same.
bench: build
	@python3 bench/speed.py $(BUILD)/tarnwick 10000 100000
	@sh bench/import_attach_bench.sh $(BUILD)/tarnwick 300
	@sh bench/lists_scale.sh $(BUILD)/tarnwick
	@sh bench/netmail_bench.sh $(BUILD)/tarnwick 10000

# The libFuzzer targets (clang), each for FUZZ_SECONDS from its seed corpus;
# FUZZ_TARGETS names some of them (default: all). See fuzz/run.sh.
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build/fuzz
fuzz:
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_FUZZ=ON -DTW_WERROR=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzz_targets -j $(JOBS)
	@sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# make install PREFIX=/usr DESTDIR=/tmp/stage: the programs, the manual
# pages and the example site (builds only the programs, not the tests).
install:
	@$(CONFIGURE)
	@cmake --build $(BUILD) --target tw_install_programs -j $(JOBS)
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package in $(BUILD)/deb, built with Debian's compiler flags;
# deb-check installs it, checks the example site with it, removes it again.
deb:
	@sh packaging/deb/build-deb.sh $(BUILD)/deb

deb-check: deb
	@sh packaging/deb/check-deb.sh $(BUILD)/deb

clean:
	rm -rf $(BUILD)
