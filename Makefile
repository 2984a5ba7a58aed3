# The two commands a newcomer types:  make run   and   make test
# Both install missing Debian packages, configure and build into $(BUILD).

BUILD    ?= build
TYPE     ?= RelWithDebInfo
SANITIZE ?= 0
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
ARGS     ?= --track motocross --lineup 1

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(TYPE) -DKR_SANITIZE=$(SANITIZE) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/kessrun $(ARGS)

test: build
	@bash tools/with-display.sh ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/*_bench; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf $(BUILD)
