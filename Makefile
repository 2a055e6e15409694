# The two commands of the README live here; everything else is CMake.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps test clean

deps:
	scripts/install-deps

test: deps
	cmake -S . -B $(BUILD_DIR)/debug -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON
	cmake --build $(BUILD_DIR)/debug -j $(JOBS)
	ctest --test-dir $(BUILD_DIR)/debug --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
