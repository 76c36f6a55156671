# The test command: installs what is missing, builds with sanitizers, runs every test.
BUILD_DIR ?= build
RELEASE_DIR ?= build-release
JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)

.PHONY: test deps build bench fuzz format format-check size-check architecture-check clean run \
	install package

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
		-DBIFUEL_SANITIZE=ON -DBIFUEL_WERROR=$(WERROR)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build format-check size-check architecture-check
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Benchmarks run on an optimised build without sanitizers.
bench: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DBIFUEL_SANITIZE=OFF -DBIFUEL_WERROR=$(WERROR)
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	bench/run-all $(RELEASE_DIR)

# Fuzzes every harness of tests/fuzz for FUZZ_SECONDS each on a clang libFuzzer build
# (make test runs them once over their corpora instead).
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz: deps
	scripts/install-fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DBIFUEL_SANITIZE=ON -DBIFUEL_FUZZ=ON -DBIFUEL_WERROR=$(WERROR)
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	tests/fuzz/run-all $(FUZZ_DIR) $(FUZZ_SECONDS)

# Builds the desktop program optimised and without sanitizers (the program a user starts is
# the program we ship; the test build keeps them) and starts it in a demo folder
# (build-run/run) against the simulated ECU. Without a display it says how to watch the
# simulator from the terminal.
RUN_BUILD_DIR ?= build-run
RUN_DIR := $(RUN_BUILD_DIR)/run
run: deps
	cmake -S . -B $(RUN_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DBIFUEL_SANITIZE=OFF -DBIFUEL_WERROR=OFF -DBIFUEL_BUILD_BENCH=OFF
	cmake --build $(RUN_BUILD_DIR) -j $(JOBS) --target bifuel-studio bifuel-cli
	@# One shell for the rest: without a display nothing more is done.
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so bifuel-studio cannot open its window."; \
	  echo "Watch the simulated ECU with the command-line tool instead:"; \
	  echo "  $(RUN_BUILD_DIR)/cli/bifuel-cli --port sim live --seconds 10"; \
	else \
	  mkdir -p $(RUN_DIR)/Config $(RUN_DIR)/Language && \
	  cp data/bifuel-studio.dat $(RUN_DIR)/ && \
	  cp data/Language/*.lng $(RUN_DIR)/Language/ && \
	  { [ -f $(RUN_DIR)/bifuel-studio.ini ] || printf 'Port_Name=sim\r\n' > $(RUN_DIR)/bifuel-studio.ini; } && \
	  cd $(RUN_DIR) && ../ui/bifuel-studio; \
	fi

# Every C++ source follows .clang-format; the test command refuses a tree that does not.
format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# No function longer than 80 lines outside data tables (tools/function-lengths.py says
# which are); LIMIT changes the bound.
LIMIT ?= 80
size-check:
	tools/function-lengths.py --limit $(LIMIT)

# The structure's figures (ARCHITECTURE.md); fails when a rule the project keeps is broken.
architecture-check:
	tools/architecture-figures.py --check

clean:
	rm -rf $(BUILD_DIR) $(RELEASE_DIR) $(RUN_BUILD_DIR) $(FUZZ_DIR)

# Installs the three programs, their data, the desktop entry, icons, metainfo and man
# pages under PREFIX (default /usr/local); DESTDIR stages them elsewhere, as usual.
# The optimised build without tests or benchmarks lives in PACKAGE_DIR.
PREFIX ?= /usr/local
PACKAGE_DIR ?= build-package
define configure_package_build
	cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBIFUEL_SANITIZE=OFF \
		-DBIFUEL_WERROR=OFF -DBIFUEL_BUILD_BENCH=OFF -DBIFUEL_BUILD_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=$(1)
	cmake --build $(PACKAGE_DIR) -j $(JOBS) --target bifuel-studio bifuel-cli bifuel-sim
endef

install: deps
	$(call configure_package_build,$(PREFIX))
	cmake --install $(PACKAGE_DIR)

# A Debian package of the same build (bifuel-studio_VERSION_ARCH.deb in PACKAGE_DIR),
# installable with `apt install ./build-package/bifuel-studio_*.deb`.
package: deps
	$(call configure_package_build,/usr)
	cd $(PACKAGE_DIR) && cpack -G DEB
