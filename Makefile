# Entry points: "make test" installs, builds and runs every test.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

PAGE ?= 153x102mm
RES ?= 300dpi

.PHONY: setup configure build test asan-test sample bench deb fuzz clean printer-app-screenshots

setup:
	bash scripts/setup.sh

configure:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The fuzz targets are built here, in $(BUILD)/fuzz, for ctest's fuzz_smoke
# (77: clang or libFuzzer is missing, and fuzz_smoke is skipped).
test: setup
	$(MAKE) build
	JOBS=$(JOBS) bash scripts/fuzz.sh --build-only --build-dir $(BUILD)/fuzz || [ $$? -eq 77 ]
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan-test: setup
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DQZM480_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Prints the built-in sample page to out/sample.qzm480 with a preview PNG.
sample: setup
	$(MAKE) build
	bash scripts/sample.sh $(BUILD) $(PAGE) $(RES)

# Whole pages through the filter's image path (Release build, not in ctest).
bench:
	cmake -S . -B build-release $(GENERATOR) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-release -j $(JOBS) --target filter_bench
	build-release/tests/Bench/filter_bench 153x204mm 300x600dpi
	build-release/tests/Bench/filter_bench 153x204mm 600x600dpi

# The Debian package, written into the build folder.
deb: build
	cd $(BUILD) && cpack -G DEB

# Builds the fuzz targets with clang and runs each for SECONDS seconds.
SECONDS ?= 60
fuzz:
	bash scripts/fuzz.sh --build-dir $(BUILD)/fuzz $(SECONDS)

# Screenshots of the printer application's web pages into docs/ (installs
# chromium through apt-get when it is missing).
printer-app-screenshots: setup
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target qzm480-printer-app-emulated qzm480-emulator
	bash scripts/printer-app-screenshots.sh $(BUILD) docs

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
