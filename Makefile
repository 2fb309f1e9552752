# The two commands people use: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2

.PHONY: all bootstrap configure build test bench demo fuzz clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

bench: build
	@scripts/bench $(BUILD)

demo: build
	@scripts/bootstrap demo
	@scripts/demo $(BUILD)

fuzz: bootstrap
	@scripts/fuzz

clean:
	rm -rf $(BUILD) build-fuzz
