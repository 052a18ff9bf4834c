# The two commands a fresh machine needs: `make run` and `make test`.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
WL_WERROR ?= OFF
CMAKE_ARGS ?=
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run test bench screenshots fuzz fuzz-smoke format format-check clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DWL_WERROR=$(WL_WERROR) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# The desktop app where there is a display, the headless daemon where there is none.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		echo "make run: a display is present: starting the desktop app, $(BUILD)/bin/wardlamp" >&2; \
		exec $(BUILD)/bin/wardlamp; \
	else \
		echo "make run: no display (DISPLAY and WAYLAND_DISPLAY are unset): starting the headless daemon, $(BUILD)/bin/wardlampd" >&2; \
		exec $(BUILD)/bin/wardlampd; \
	fi

test: build
	@scripts/run-tests $(BUILD)

# Pictures of what the programs show, written to docs/screenshots/: the desktop
# app under Xvfb with a tray host, and the web controller in Chromium.
screenshots: build
	@scripts/screenshots $(BUILD) docs/screenshots
	@scripts/screenshots-web $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

fuzz: deps
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: deps
	@scripts/run-fuzz $(FUZZ_BUILD) 10

format: configure
	@cmake --build $(BUILD) --target format

format-check: configure
	@cmake --build $(BUILD) --target format-check

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
