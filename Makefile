# Wraps the CMake build. `make` builds, `make run` runs a bundled example, `make test` runs every
# test, `make study` runs the bundled parameter study, `make bench` runs the benchmarks,
# `make man-pages` makes the manual page of the input files, `make windows` cross-builds the
# Windows programs and packs their zip.
BUILD_DIR ?= build
JOBS ?= 2
EXAMPLE ?= multigrid-gs-65
WINDOW ?= 10
CMAKE_FLAGS ?=
STUDY_FLAGS ?=
WINDOWS_BUILD_DIR ?= build-windows
WINDOWS_TOOLCHAIN ?= cmake/mingw-w64-x86_64.cmake

.PHONY: all build programs run man-pages test bench study windows clean

all: build

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Builds the two programs only (not the tests), saying so in one line; `make run` then copies the
# example into a scratch folder, generates its reference solution, runs the simulation with the
# full timing window and prints the report.
programs:
	@bash scripts/build_programs.sh $(BUILD_DIR) $(JOBS) $(CMAKE_FLAGS)

run: programs
	@bash scripts/run_example.sh $(BUILD_DIR) examples/$(EXAMPLE) $(WINDOW)

# Makes the manual page of the input files anew from the program's description of them (after a
# change to the input-file tables; a test checks that the page in man/ is up to date).
man-pages: programs
	$(BUILD_DIR)/advdiff2d --describe-inputs > $(BUILD_DIR)/inputs.json
	python3 scripts/inputs_man_page.py < $(BUILD_DIR)/inputs.json > $(BUILD_DIR)/advdiff2d-inputs.5
	mv $(BUILD_DIR)/advdiff2d-inputs.5 man/advdiff2d-inputs.5

test: build
	@bash scripts/run_tests.sh $(BUILD_DIR)

# Runs the bundled multigrid-versus-single-grid study (the two programs are all it needs);
# results, plots and summary in build/study. STUDY_FLAGS adds options, e.g. --fields.
study: programs
	tools/sweep/advdiff2d-sweep --study tools/sweep/studies/multigrid-vs-singlegrid/study.json --bin-dir $(BUILD_DIR) -o $(BUILD_DIR)/study --force $(STUDY_FLAGS)

bench:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DADVDIFF_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS)
	@bash scripts/run_bench.sh $(BUILD_DIR)

# The 64-bit Windows programs, cross-built with mingw-w64, and the zip of what a Windows user
# needs: $(WINDOWS_BUILD_DIR)/advdiff2d-<version>-windows-x86_64.zip. The 32-bit programs:
# WINDOWS_TOOLCHAIN=cmake/mingw-w64-i686.cmake WINDOWS_BUILD_DIR=build-windows32.
windows:
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD_DIR) -j$(JOBS) --target advdiff2d_programs
	@bash scripts/windows_package.sh $(WINDOWS_BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
