# make run   installs what is missing, builds and starts Zarvotel
# make test  installs what is missing, builds and runs every test (plain and sanitized)
# make demo  starts the rig simulator and Zarvotel together
# make bench times the step computation

DEBIAN_PACKAGES := cmake g++ make pkg-config qt6-base-dev libbenchmark-dev \
                   fonts-dejavu-core fonts-liberation
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run demo test test-plain test-asan bench clean

all: build

deps:
	@missing=$$(for p in $(DEBIAN_PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake --preset dev

build: configure
	cmake --build --preset dev -j $(JOBS)

run: build
	./build/dev/app/zarvotel

# The rig simulator on the default port, and Zarvotel beside it; both end together.
demo: build
	./build/dev/tools/rigsim/rigsim --port $${PORT:-7809} & sim=$$!; \
	trap 'kill $$sim 2>/dev/null' EXIT INT TERM; \
	./build/dev/app/zarvotel

test: test-plain test-asan

test-plain: build
	ctest --preset dev -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

bench: build
	./build/dev/bench/bench_computestep --benchmark_counters_tabular=true

clean:
	rm -rf build
