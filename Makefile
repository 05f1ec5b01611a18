# The two commands a newcomer needs on a fresh Debian 12 machine:
#   make demo   runs the demo against the built-in simulated modem
#   make test   builds everything and runs every test (also under the sanitizers)
# Both install the Debian packages they need when they are missing (as root), or say exactly
# which ones to install. make install and make deb are in the README's "Install" section.

JOBS ?= 2
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

# CLI11 and nlohmann-json (header-only) are the command line's option parser and JSON writer.
BUILD_PACKAGES := build-essential cmake libgtest-dev libcli11-dev nlohmann-json3-dev libsqlite3-dev \
  libpq-dev
# The install test builds C programs against the install (pkg-config) and the Python wheel
# offline (setuptools and wheel from Debian) into a fresh virtual environment; the gateway's
# tests read their stores with sqlite3 and psql and start a PostgreSQL server; mypy checks the
# Python package's type hints. The peer tests run gammu against the simulator and
# python-gammu against the codec.
TEST_PACKAGES := gammu python3-gammu locales pkg-config python3-pip python3-setuptools \
  python3-wheel python3-venv sqlite3 postgresql mypy
BENCH_PACKAGES := pkg-config libgammu-dev libbenchmark-dev
# Short runs: the machine is shared, and every budget is a ratio taken within one run.
BENCH_ARGS ?= --benchmark_min_time=0.1
BENCH_PROGRAMS := codec_bench service_bench cadence_bench footprint_bench

.PHONY: all demo test bench build deps-build deps-test test-plain test-windows test-asan test-tsan clean format
.PHONY: install deb
.PHONY: fuzz fuzz-smoke fuzz-build

all: build

deps-build:
	@./tools/scripts/ensure-packages.sh $(BUILD_PACKAGES)

deps-test: deps-build
	@./tools/scripts/ensure-packages.sh $(TEST_PACKAGES)
	@./tools/scripts/ensure-locale.sh zh_CN GBK zh_CN.GBK

build: deps-build
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/tools/tidewire-demo

# The libraries, headers, pkg-config and CMake package files, the programs, their man pages and
# the bash completion, under PREFIX (DESTDIR, when set, is put before it, as for any package).
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian packages libtidewire<MAJOR>, libtidewire-dev, tidewire and tidewire-gateway, in
# build-deb/, built with Debian's compiler flags (hardening) by CPack from the same install
# rules, then checked by lintian (as root it says running as root is not recommended: harmless
# here). The gateway's unit and sample configuration go where Debian keeps them.
DEB_PACKAGES := dpkg-dev file lintian
deb: deps-build
	@./tools/scripts/ensure-packages.sh $(DEB_PACKAGES)
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
	  -DTIDEWIRE_TESTS=OFF -DTIDEWIRE_DEBIAN_PACKAGES=ON \
	  -DTIDEWIRE_INSTALL_UNITDIR=/lib/systemd/system -DTIDEWIRE_INSTALL_CONFDIR=/etc/tidewire \
	  -DCMAKE_C_FLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  -DCMAKE_SHARED_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build build-deb -j $(JOBS)
	rm -f build-deb/*.deb
	cd build-deb && cpack -G DEB
	@# CPack's maintainer scripts call ldconfig beside the trigger: redundant, not wrong.
	lintian --fail-on error,warning --suppress-tags maintscript-calls-ldconfig build-deb/*.deb
	@echo "make deb: $$(cd build-deb && ls *.deb | tr '\n' ' ')in build-deb/"

# Every layer in the normal build (the stored fuzz corpora replayed among them), the Windows
# DLLs under Wine, then the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded layers under ThreadSanitizer, and each fuzz target briefly under libFuzzer.
test: deps-test test-plain test-windows test-asan test-tsan fuzz-smoke
	@echo "make test: all layers passed (plain, windows under wine, asan+ubsan, tsan, fuzz)"

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Both editions' DLLs for 32-bit and 64-bit Windows (mingw-w64), their export tables, and a C
# host running them under Wine against the simulated modem.
test-windows: build
	BUILD=$(BUILD) CMAKE_FLAGS="$(CMAKE_FLAGS)" JOBS=$(JOBS) ./tools/scripts/test-windows.sh

test-asan: deps-test
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
	  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined"
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -LE 'peers|hosts|python|heap|install'

test-tsan: deps-test
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
	  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread"
	cmake --build $(BUILD)-tsan -j $(JOBS)
	cd $(BUILD)-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -L 'flow|dialogue'

# Every benchmark program, each printing its figures beside their budgets (docs/performance.md).
# Not part of make test: timings are noisy. Fails when a budget was missed, after running all.
bench: deps-build
	@./tools/scripts/ensure-packages.sh $(BENCH_PACKAGES)
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTIDEWIRE_BENCH=ON
	cmake --build build-bench -j $(JOBS) --target $(BENCH_PROGRAMS)
	@missed=0; for program in $(BENCH_PROGRAMS); do \
	  ./build-bench/bench/$$program $(BENCH_ARGS) --benchmark_color=false || missed=1; \
	done; \
	if [ $$missed -ne 0 ]; then echo "make bench: a budget was missed (see MISSED above)"; exit 1; fi; \
	echo "make bench: every budget held"

# The fuzz targets under libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer (clang
# 14), each run for FUZZ_SECONDS on a scratch copy of its stored corpus, one at a time; fails
# when any target found something. fuzz-smoke is the short run for CI.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 15

fuzz-build: deps-build
	@./tools/scripts/ensure-packages.sh $(FUZZ_PACKAGES)
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DTIDEWIRE_FUZZ=ON -DTIDEWIRE_TESTS=OFF -DTIDEWIRE_TOOLS=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets

fuzz: fuzz-build
	./fuzz/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	./fuzz/run-fuzzers.sh build-fuzz $(FUZZ_SMOKE_SECONDS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan build-bench build-win32 build-win64 build-fuzz build-deb
