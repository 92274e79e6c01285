# Convenience front end for CMake.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo bench clean

all: build

build:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@sh examples/demo.sh $(BUILD)/tarnwick

# Import of a generated SOUP packet (100000 messages, about 400 MB), and a
# hosted list of 100000 subscribers.
bench: build
	@sh bench/import_bench.sh $(BUILD)/tarnwick 100000
	@sh bench/lists_scale.sh $(BUILD)/tarnwick

clean:
	rm -rf $(BUILD)
