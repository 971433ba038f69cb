# Front door: every target installs what is missing first.
BUILD      ?= build
TESTBUILD  ?= build/test
JOBS       ?= $(shell nproc)
CMAKE_GEN   = -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_DIR ?= $(HOME)/.cache/ccache

.PHONY: all run test build bench soak fuzz clean bootstrap

all: build

bootstrap:
	@./scripts/bootstrap

$(BUILD)/build.ninja: | bootstrap
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DSKYVANE_TESTS=OFF

$(TESTBUILD)/build.ninja: | bootstrap
	@cmake -S . -B $(TESTBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSKYVANE_TESTS=ON \
	  -DSKYVANE_SANITIZE=ON -DSKYVANE_WERROR=ON -DSKYVANE_BENCH=OFF

build: bootstrap $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run

test: bootstrap $(TESTBUILD)/build.ninja
	@cmake --build $(TESTBUILD) -j $(JOBS)
	@cd $(TESTBUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

bench: build
	@$(BUILD)/bin/skyvane-bench

# A simulated week of the field station; the build waits for the machine's
# build lock when other builds run.
soak: bootstrap $(BUILD)/build.ninja
	@flock /tmp/skyvane-build.lock cmake --build $(BUILD) -j $(JOBS) --target skyvane-soak
	@$(BUILD)/bin/skyvane-soak --days 7

fuzz: bootstrap
	@./scripts/fuzz

clean:
	@rm -rf build
