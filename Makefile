# SPDX-FileCopyrightText: 2026 The Zarvotel developers
# SPDX-License-Identifier: GPL-3.0-or-later
# make run   installs what is missing, builds and starts Zarvotel
# make test  installs what is missing, builds and runs every test (plain and sanitized)
# make demo  starts the rig simulator and Zarvotel together (RIG=rigctld and so on; LISTEN=1
#            with sound, NOISY=1 on a noisy band, IQ=192000 as a software radio's I/Q)
# make bench times the step computation, compares Zarvotel with a bare Qt program, measures
#            the chirp detector, the audio clock and the CPU of listening
# make soak, make fuzz, make memcheck: the longer proofs (see HACKING.md)

# What building and running need; what the tests and proofs need besides.
RUN_PACKAGES := cmake g++ make pkg-config qt6-base-dev qt6-multimedia-dev libkissfft-dev \
                fonts-dejavu-core fonts-liberation
TEST_PACKAGES := $(RUN_PACKAGES) libbenchmark-dev clang clang-format libclang-rt-14-dev valgrind \
                 libhamlib-utils flrig xvfb desktop-file-utils appstream lintian dpkg-dev man-db \
                 pulseaudio pulseaudio-utils
# Installed without what they recommend: Gqrx's would build a kernel module for an SDR.
BARE_PACKAGES := gqrx-sdr
DEBIAN_PACKAGES ?= $(RUN_PACKAGES)
SHELL := /bin/bash
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
JOBS ?= $(shell nproc)

.PHONY: all deps test-deps configure build run demo test format-check test-plain test-asan test-install fuzz fuzz-smoke \
        soak memcheck bench install package windows windows-package windows-installer windows-test \
        windows-icon clean

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

test-deps:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	@missing=$$(for p in $(BARE_PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake --preset dev

build: configure
	cmake --build --preset dev -j $(JOBS)

run: build
	./build/dev/app/zarvotel

# The rig simulator and Zarvotel beside it, speaking RIG (hrd-text, hrd, rigctld, flrig);
# Zarvotel connects and starts by itself; both end together. With LISTEN=1 the simulator
# also plays what the receiver hears, through a sound server of the demo's own, and Zarvotel
# listens and draws the ionogram. NOISY=1 gives its receiver a band's own sounds (a carrier
# on the broadcast bands, static crashes, AGC, a slow retune); DAY=1 lets F2 follow a day of
# an hour, so the MOF moves; IQ=48000, 96000 or 192000 plays I/Q at that rate, as a
# software radio gives it, and Zarvotel hears it with --iq; SKY="..." adds rigsim options.
RIG ?= hrd-text
NOISY_SKY := --carrier 20:1000:broadcast --crashes 1:20:3 --agc 1:300 --cat-latency 30 \
  --retune-mute 10
DAY_SKY := --f2-day 5:11 --day-minutes 60
ifeq ($(NOISY),1)
SKY += $(NOISY_SKY)
endif
ifeq ($(DAY),1)
SKY += $(DAY_SKY)
endif
ifneq ($(IQ),)
SKY += --iq --audio-rate $(IQ)
HEARING := --iq
endif
ifeq ($(LISTEN),1)
demo: build
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(RUN_PACKAGES) pulseaudio pulseaudio-utils"
	tools/listen-demo --rig $(RIG) $(SKY) -- ./build/dev/app/zarvotel --rig $(RIG) --port @PORT@ \
	  --connect --start --reconnect 2 --utc --period 300 --chirptime 78 --listen \
	  --audio-input radio --ionograms build/demo-ionograms $(HEARING)
else
demo: build
	@./build/dev/tools/rigsim/zarvotel-rigsim --rig $(RIG) --port 0 > build/rigsim.log & sim=$$!; \
	trap 'kill $$sim 2>/dev/null' EXIT INT TERM; \
	for i in $$(seq 50); do grep -q listening build/rigsim.log && break; sleep 0.1; done; \
	port=$$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' build/rigsim.log | head -1); \
	echo; echo "rigsim listens on 127.0.0.1:$$port as $(RIG); what it receives goes to build/rigsim.log."; \
	echo "Zarvotel connects and starts by itself. Close its window, or press Ctrl+C, to stop both."; \
	./build/dev/app/zarvotel --rig $(RIG) --port $$port --connect --start --reconnect 2
endif

# The layout check, a short fuzzing run and the install checks first, so that the last lines
# are CTest's summary.
test: test-deps format-check fuzz-smoke test-install test-plain test-asan

# Every source file as .clang-format lays it out, and no line beyond 100 columns.
format-check: test-deps
	@files=$$(git ls-files '*.cpp' '*.h'); \
	clang-format --dry-run --Werror $$files && \
	! awk 'length > 100 { print FILENAME ":" FNR ": longer than 100 columns"; bad = 1 } \
	       END { exit !bad }' $$files

fuzz-smoke:
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=30

test-plain: test-deps build
	ctest --preset dev -j $(JOBS) -LE soak

test-asan: test-deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS) -LE soak

# Each fuzzer for FUZZ_SECONDS, from the seeds in fuzz/corpus; new finds stay in build/.
FUZZ_SECONDS ?= 300
FUZZERS := computestep porttext reply
fuzz: test-deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@for f in $(FUZZERS); do \
	  mkdir -p build/fuzz-corpus/$$f && \
	  echo "fuzz_$$f for $(FUZZ_SECONDS) s" && \
	  ./build/fuzz/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -max_len=512 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz-corpus/$$f- build/fuzz-corpus/$$f fuzz/corpus/$$f \
	    2>&1 | grep -E '^(stat::number_of_executed_runs|stat::new_units_added|==|SUMMARY|Done)|ERROR|runtime error' ; \
	  test $${PIPESTATUS[0]} -eq 0 || exit 1; \
	done

# The tests labelled soak: 10,000 connect/disconnect cycles, every tick of a day for every
# slider position, and the memory and timing figures.
soak: test-deps build
	ctest --preset dev -L soak

# The end-to-end tests under valgrind's memcheck; any memory error fails.
memcheck: test-deps build
	@for t in tst_endtoend tst_link; do \
	  echo "memcheck $$t"; \
	  QT_QPA_PLATFORM=offscreen valgrind --error-exitcode=1 --leak-check=no -q \
	    ./build/dev/tests/$$t -silent || exit 1; \
	done

# ComputeStep per call, then the floor program and Zarvotel side by side, BENCH_SECONDS each.
BENCH_SECONDS ?= 60
bench: test-deps build
	./build/dev/bench/bench_computestep --benchmark_counters_tabular=true
	./build/dev/bench/detector_sensitivity
	./build/dev/bench/passbands
	QT_QPA_PLATFORM=offscreen ./build/dev/bench/ionogram_pair build/bench-ionograms 4.5 7.5
	./build/dev/bench/scaling
	./build/dev/bench/audio_clock
	bench/listening-cpu ./build/dev/app/zarvotel $(BENCH_SECONDS)
	./build/dev/bench/rhythm ./build/dev/bench/floor ./build/dev/bench/zarvotel_driven $(BENCH_SECONDS) 2

# Installs under PREFIX (/usr/local by default), into DESTDIR when it is set.
PREFIX ?= /usr/local
install: build
	cmake --install build/dev --prefix $(PREFIX) --strip

# The Debian package zarvotel_<version>_<arch>.deb, in build/.
package: build
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(RUN_PACKAGES) dpkg-dev"
	cd build/dev && cpack -G DEB -B $(CURDIR)/build/package > /dev/null
	@cp build/package/zarvotel_*.deb build/ && echo "Package written: $$(ls build/zarvotel_*.deb)"

# Installs into a scratch DESTDIR and builds the package, and checks them with the tools
# made for it.
test-install: test-deps build
	tools/check-install build/dev

# Windows, cross-compiled with MinGW-w64 against a static Qt built once from Debian's own
# source (in ~/.cache/zarvotel), and tested under Wine.
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix ninja-build dpkg-dev cmake qt6-base-dev \
                    qt6-shadertools-dev wine64 xvfb xauth xdotool zip nsis
WINDOWS_VERSION := $(shell grep -o 'zarvotel VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
windows:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(WINDOWS_PACKAGES)"
	qt=$$(tools/windows/build-qt) && tools/windows/build-qtmultimedia > /dev/null && \
	tools/windows/build-kissfft > /dev/null && \
	cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARVOTEL_WERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$$qt/lib/cmake/Qt6/qt.toolchain.cmake > /dev/null
	cmake --build build/windows
	@ls -l build/windows/app/zarvotel.exe build/windows/tools/rigsim/zarvotel-rigsim.exe

windows-package: windows
	rm -rf build/windows-package && mkdir -p build/windows-package/zarvotel
	cp build/windows/app/zarvotel.exe build/windows/tools/rigsim/zarvotel-rigsim.exe \
	   README.md LICENSE build/windows-package/zarvotel/
	cd build/windows-package && zip -qr ../zarvotel-$(WINDOWS_VERSION)-windows-x64.zip zarvotel
	@echo "Package written: build/zarvotel-$(WINDOWS_VERSION)-windows-x64.zip"

# The installer, from the same build as the zip: CPack's NSIS generator with the script in
# tools/windows/NSIS.template.in.
windows-installer: windows
	cd build/windows && cpack -G NSIS -B $(CURDIR)/build/windows-installer > /dev/null
	cp build/windows-installer/zarvotel-$(WINDOWS_VERSION)-windows-x64-setup.exe build/
	@echo "Installer written: build/zarvotel-$(WINDOWS_VERSION)-windows-x64-setup.exe"

# The programs' icon, drawn again from the SVG at each size Windows shows; the result is
# committed, so that building needs neither tool.
ICON := data/icons/net.zarvotel.Zarvotel
ICON_SIZES := 16 20 24 32 40 48 64 256
windows-icon:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="librsvg2-bin imagemagick"
	rm -rf build/icon && mkdir -p build/icon
	for s in $(ICON_SIZES); do \
	  rsvg-convert -w $$s -h $$s $(ICON).svg -o build/icon/$$s.png || exit 1; \
	done
	convert $(ICON_SIZES:%=build/icon/%.png) -strip $(ICON).ico

WINE_TESTS := tst_tracking tst_link tst_endtoend tst_options tst_listen
windows-test: windows-installer build
	@export WINEPREFIX=$(CURDIR)/build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=d"; \
	xvfb-run -a bash -c 'wineboot -i > /dev/null 2>&1; passed=0; failed=0; \
	  for t in $(WINE_TESTS); do \
	    echo "wine $$t.exe"; \
	    if TZ=UTC wine build/windows/tests/$$t.exe -silent; then passed=$$((passed + 1)); \
	    else failed=$$((failed + 1)); fi; \
	  done; \
	  echo "smoke: zarvotel.exe against rigsim"; \
	  if tools/windows/smoke build/windows/app/zarvotel.exe build/dev/tools/rigsim/zarvotel-rigsim; \
	  then passed=$$((passed + 1)); else failed=$$((failed + 1)); fi; \
	  echo "zarvotel.exe --version"; \
	  printf -v expected "zarvotel %s\r" "$(WINDOWS_VERSION)"; \
	  out=$$(wine build/windows/app/zarvotel.exe --version); \
	  if [ $$? -eq 0 ] && [ "$$out" = "$$expected" ]; then passed=$$((passed + 1)); \
	  else printf "printed %q, not %q\n" "$$out" "$$expected"; failed=$$((failed + 1)); fi; \
	  echo "zarvotel.exe --offset ÄÖÜ-φ: the argument whole in the error, exit status 2"; \
	  err=$$(LC_ALL=C.UTF-8 wine build/windows/app/zarvotel.exe --offset ÄÖÜ-φ 2>&1 > /dev/null); \
	  status=$$?; \
	  if [ $$status -eq 2 ] && [[ $$err == *"\"ÄÖÜ-φ\""* ]]; then passed=$$((passed + 1)); \
	  else printf "exit status %s, printed %q\n" $$status "$$err"; failed=$$((failed + 1)); fi; \
	  echo "zarvotel.exe --listen: the ionogram window opens (no sound server: it says so)"; \
	  wine build/windows/app/zarvotel.exe --listen > /dev/null 2>&1 & exe=$$!; \
	  for i in $$(seq 60); do xdotool search --name "^Zarvotel ionogram$$" > /dev/null && break; \
	    sleep 0.5; done; \
	  if xdotool search --name "^Zarvotel ionogram$$" > /dev/null; then passed=$$((passed + 1)); \
	  else echo "no ionogram window"; failed=$$((failed + 1)); fi; \
	  kill $$exe 2> /dev/null; \
	  for mode in per-user all-users folder; do \
	    echo "the installer, $$mode: install, run, uninstall (in a Wine prefix of its own)"; \
	    if tools/windows/check-installer build/zarvotel-$(WINDOWS_VERSION)-windows-x64-setup.exe \
	         $(WINDOWS_VERSION) $$mode; then passed=$$((passed + 1)); \
	    else failed=$$((failed + 1)); fi; \
	  done; \
	  wineserver -k; echo "windows: $$passed passed, $$failed failed"; test $$failed -eq 0'

clean:
	rm -rf build
