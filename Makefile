# Two commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build test run bench package install-check test-sanitize fuzz-build fuzz fuzz-ci clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer in a folder of
# their own (no benchmarks); the first finding fails its test. The options hold while
# building too, since test discovery runs the test programs.
ASAN_BUILD ?= build-asan
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1 \
	LSAN_OPTIONS=suppressions=$(abspath scripts/lsan.supp):print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

test-sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLCAST_SANITIZE=ON -DQUILLCAST_BENCH=OFF >/dev/null
	@$(SANITIZE_ENV) cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZE_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -LE large -j $(JOBS)

# libFuzzer targets (fuzz/), built with clang in a folder of their own; `make fuzz` runs
# each for FUZZ_SECONDS, `make fuzz-ci` for 20 seconds.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600

fuzz-build: deps
	@cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	bash fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-ci: fuzz-build
	bash fuzz/run $(FUZZ_BUILD) 20

run: build
	@if [ -x $(BUILD)/src/app/quillcast ]; then exec $(BUILD)/src/app/quillcast; \
	else echo "The window program is not built yet."; exit 1; fi

# A Debian package (build/quillcast_*.deb) of the programs, the help file, menu entry, icon,
# metainfo and manual pages; install-check unpacks it into a scratch root and tries it.
package: build
	@cd $(BUILD) && cpack -G DEB >/dev/null && ls $(abspath $(BUILD))/quillcast_*.deb

install-check: package
	@bash scripts/install-check $(BUILD)

bench: build
	@bash scripts/install-deps --bench
	@QUILLCAST_BUILD=$(abspath $(BUILD)) bash bench/run-all

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
