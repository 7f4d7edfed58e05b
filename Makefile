# Quick start: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
ASAN_BUILD ?= build-asan
DEB_BUILD ?= build-deb
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps deps-build configure build test test-unit test-asan run demo bench install deb format clean

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
# then the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build
	@scripts/run-tests.sh $(BUILD)
	@$(MAKE) --no-print-directory test-asan

test-unit: build
	@cd $(BUILD) && ctest -L unit --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZAVREN_SANITIZE=ON \
	  -DZAVREN_GUI=OFF -DZAVREN_BENCH=OFF -DZAVREN_TEST_LAYERS=unit -DZAVREN_TOOLS=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest -L unit --output-on-failure -j $(JOBS)

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
	@rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD)
