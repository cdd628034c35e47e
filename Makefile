# Two commands on a fresh Debian 12 machine: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps configure build test run bench package install-check clean

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

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
	rm -rf $(BUILD)
