# The commands of the README live here; everything else is CMake.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: deps debug test test-whole release run bench physics-scenes fuzz fuzz-build clean

deps:
	scripts/install-deps

# The sanitizer build with the tests, built only.
debug: deps
	cmake -S . -B $(BUILD_DIR)/debug -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON
	cmake --build $(BUILD_DIR)/debug -j $(JOBS)

test: debug
	ctest --test-dir $(BUILD_DIR)/debug --output-on-failure -j $(JOBS)

# Every test program of the sanitizer build run whole, its tests shuffled, where CTest runs each
# test alone: a test that depends on what ran before it, or ends the process, fails here.
# SEED=n repeats the orders of an earlier run.
SEED ?=
test-whole: debug
	JOBS=$(JOBS) scripts/run-test-programs $(BUILD_DIR)/debug $(SEED)

# Builds (without running) the optimised configuration with the tests, whose warnings differ from
# the debug build's; CI builds it too, so that it stays warning-free, and runs its test programs
# whole (scripts/run-test-programs build/release).
release: deps
	cmake -S . -B $(BUILD_DIR)/release -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=ON
	cmake --build $(BUILD_DIR)/release -j $(JOBS)

# The release player on the default scene built into it, started in a folder of its own (with
# no data.zoo or config.txt there, the built-in defaults are its resource root). Without a
# display it renders a few frames offscreen into a picture instead. The example games are laid
# out beside it (build/release/examples/), for the README's first game and the script
# reference's worked example.
RUN_DIR = $(BUILD_DIR)/run
run:
	scripts/install-deps run
	cmake -S . -B $(BUILD_DIR)/release -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR)/release -j $(JOBS) --target quarn quarn-tool example-games
	mkdir -p $(RUN_DIR)
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		cd $(RUN_DIR) && ../release/app/quarn; \
	else \
		cd $(RUN_DIR) && ../release/tools/quarn-tool render res://default.scene --frames 5 \
			--out quarn.png && \
		echo "No display: 5 frames of the default scene rendered offscreen to $$(pwd)/quarn.png"; \
	fi

# The whole generated set of user-written physics scenes on the release build: one line per
# case, then a summary; fails when any case fails. ONLY=word runs the cases whose name holds it.
ONLY ?=
physics-scenes: deps
	cmake -S . -B $(BUILD_DIR)/release -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=ON
	cmake --build $(BUILD_DIR)/release -j $(JOBS) --target quarn_physics_scenes
	$(BUILD_DIR)/release/tests/quarn_physics_scenes "$(ONLY)"

# The physics peers (npm packages pinned in bench/peers/) live in a folder of the build only.
PEERS_DIR = $(BUILD_DIR)/release/bench/peers
bench:
	scripts/install-deps bench
	@command -v node >/dev/null 2>&1 || { echo "make bench: Node is missing (scripts/install-deps bench installs nodejs)"; exit 1; }
	@mkdir -p $(PEERS_DIR) && cp bench/peers/package.json bench/peers/package-lock.json $(PEERS_DIR)/
	@cd $(PEERS_DIR) && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null 2>&1 || { echo "make bench: the physics peers are missing: npm ci could not install bench/peers/package-lock.json into $(PEERS_DIR)"; exit 1; }
	cmake -S . -B $(BUILD_DIR)/release -DCMAKE_BUILD_TYPE=Release -DQUARN_TESTS=OFF -DQUARN_BENCH=ON
	cmake --build $(BUILD_DIR)/release -j $(JOBS) --target quarn_raster_bench quarn_png_decode_bench \
		quarn_png_encode_bench quarn_scene_bench quarn_player_load_bench quarn_mesh_bench quarn_shader_bench \
		quarn_table_bench quarn_undo_bench quarn_lcp_bench quarn_broadphase_bench quarn_postprocess_bench \
		quarn_particle_bench \
		quarn_script_bench quarn_convex_route_bench \
		quarn_chain_bench quarn_ui_bench quarn_physics_world_bench quarn_physics_peer_bench \
		quarn_http_reply_bench
	$(BUILD_DIR)/release/bench/quarn_raster_bench
	$(BUILD_DIR)/release/bench/quarn_png_decode_bench
	$(BUILD_DIR)/release/bench/quarn_png_encode_bench
	$(BUILD_DIR)/release/bench/quarn_scene_bench
	$(BUILD_DIR)/release/bench/quarn_player_load_bench
	$(BUILD_DIR)/release/bench/quarn_mesh_bench
	$(BUILD_DIR)/release/bench/quarn_shader_bench
	$(BUILD_DIR)/release/bench/quarn_table_bench
	$(BUILD_DIR)/release/bench/quarn_undo_bench
	$(BUILD_DIR)/release/bench/quarn_lcp_bench
	$(BUILD_DIR)/release/bench/quarn_broadphase_bench
	$(BUILD_DIR)/release/bench/quarn_postprocess_bench
	$(BUILD_DIR)/release/bench/quarn_particle_bench
	$(BUILD_DIR)/release/bench/quarn_script_bench
	$(BUILD_DIR)/release/bench/quarn_convex_route_bench
	$(BUILD_DIR)/release/bench/quarn_chain_bench
	$(BUILD_DIR)/release/bench/quarn_ui_bench
	$(BUILD_DIR)/release/bench/quarn_physics_world_bench
	$(BUILD_DIR)/release/bench/quarn_http_reply_bench
	$(BUILD_DIR)/release/bench/quarn_physics_peer_bench bench/peers bench/peers/physics-peers.mjs \
		$(PEERS_DIR)

# Each fuzz target runs for FUZZ_TIME seconds (FUZZ_TARGETS picks some: "png inflate"); one target
# for longer: make fuzz FUZZ_TARGETS=scene_text FUZZ_TIME=3600
FUZZ_TIME ?= 20
FUZZ_TARGETS ?=
fuzz: fuzz-build
	fuzz/run $(BUILD_DIR)/fuzz $(FUZZ_TIME) $(FUZZ_TARGETS)

# Builds the fuzz targets without running them: CI does, so that a change clang refuses (the
# targets are the only clang build) fails there rather than at the next fuzzing session.
fuzz-build:
	scripts/install-deps fuzz
	cmake -S . -B $(BUILD_DIR)/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
		-DQUARN_TESTS=OFF -DQUARN_FUZZ=ON
	cmake --build $(BUILD_DIR)/fuzz -j $(JOBS) --target quarn_fuzzers

clean:
	rm -rf $(BUILD_DIR)
