# The test command: installs what is missing, builds with sanitizers, runs every test.
BUILD_DIR ?= build
RELEASE_DIR ?= build-release
JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)

.PHONY: test deps build bench format clean

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
		-DBIFUEL_SANITIZE=ON -DBIFUEL_WERROR=$(WERROR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Benchmarks run on an optimised build without sanitizers.
bench: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DBIFUEL_SANITIZE=OFF -DBIFUEL_WERROR=$(WERROR)
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	bench/run-all $(RELEASE_DIR)

format:
	find core sim tests bench -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(RELEASE_DIR)
