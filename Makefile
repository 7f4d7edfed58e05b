# Quick start: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
ASAN_BUILD ?= build-asan
DEB_BUILD ?= build-deb
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_RUNS ?= 4000
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps deps-build configure build test test-unit test-asan fuzz-build fuzz test-fuzz run demo bench \
  install deb format clean

all: build

deps:
	@scripts/install-deps.sh all

deps-build:
	@scripts/install-deps.sh build

# Everything on: `make run` may have left the tests and tools out of $(BUILD).
configure:
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DZAVREN_TESTS=ON -DZAVREN_BENCH=ON \
	  -DZAVREN_TOOLS=ON >/dev/null

build: deps configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test, headless: unit, integration and system (Xvfb, private PulseAudio),
# then the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then a short run of every fuzz harness.
test: build
	@scripts/run-tests.sh $(BUILD)
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-fuzz

test-unit: build
	@cd $(BUILD) && ctest -L unit --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZAVREN_SANITIZE=ON \
	  -DZAVREN_GUI=OFF -DZAVREN_BENCH=OFF -DZAVREN_TEST_LAYERS=unit -DZAVREN_TOOLS=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest -L unit --output-on-failure -j $(JOBS)

# The parsers' libFuzzer harnesses (fuzz/), built with clang in a folder of their own.
fuzz-build: deps
	@cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Each harness for FUZZ_SECONDS; what it finds is in $(FUZZ_BUILD)/findings.
fuzz: fuzz-build
	@scripts/run-fuzz.sh $(FUZZ_BUILD) time $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	@scripts/run-fuzz.sh $(FUZZ_BUILD) runs $(FUZZ_SMOKE_RUNS)

# Installs and builds only what the program needs (and the demo, without a display).
run:
	@scripts/run.sh $(BUILD) $(JOBS) $(CMAKE_FLAGS)

bench: build
	@scripts/run-bench.sh $(BUILD)

install: build
	@cmake --install $(BUILD)

# zavren_VERSION_amd64.deb in $(DEB_BUILD): the program alone, built for /usr and
# stripped by CPack (-O2: GCC 12 reports false -Wrestrict errors at -O3).
deb: deps-build
	@cmake -S . -B $(DEB_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DZAVREN_TESTS=OFF -DZAVREN_BENCH=OFF -DZAVREN_TOOLS=OFF >/dev/null
	@cmake --build $(DEB_BUILD) -j $(JOBS)
	@cd $(DEB_BUILD) && cpack -G DEB
	@ls -l $(DEB_BUILD)/zavren_*_amd64.deb

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD) $(FUZZ_BUILD)
