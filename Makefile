# The two commands people use: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2

SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
PACKAGE_BUILD ?= build-package

.PHONY: all bootstrap configure build test test-sanitize test-tsan bench demo demo-relay fuzz package package-check clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer; any report fails.
test-sanitize: bootstrap
	@cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVERON_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=0:halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The poll engine, the device link and the monitor's tests under ThreadSanitizer. Local only, not
# in CI: on Debian 12, Qt's queued events and libstdc++'s steady-clock condition wait are invisible
# to ThreadSanitizer, so every hand-over between a lane and the UI thread is reported as a race.
test-tsan: bootstrap
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALVERON_TSAN=ON -DTALVERON_WITH_MIME=OFF \
	  -DTALVERON_ONLY_TESTS="outside;monitor;tools" >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target poll_engine_test varnix_test test_monitor
	@TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) --timeout 300 -R "PollEngine|VARNIX|MontAll|MonitorCycle|Polling|ReadRelayUnit"

bench: build
	@scripts/bench $(BUILD)

demo: build
	@scripts/bootstrap demo
	@scripts/demo $(BUILD)

demo-relay: build
	@scripts/bootstrap demo
	@scripts/demo-relay $(BUILD)

# The Debian packages (talveron, libmime1.4, libmime-dev, libmime-ui) in $(PACKAGE_BUILD)/packages/,
# built for /usr with Debian's compiler and linker flags. Nothing is installed.
package: bootstrap
	@flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get $$1; }; \
	  CFLAGS="$$(flags CFLAGS) $$(flags CPPFLAGS)" CXXFLAGS="$$(flags CXXFLAGS) $$(flags CPPFLAGS)" \
	  LDFLAGS="$$(flags LDFLAGS)" cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DTALVERON_PACKAGE=ON >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	@rm -rf $(PACKAGE_BUILD)/packages
	@cd $(PACKAGE_BUILD) && cpack --config CPackConfig.cmake >/dev/null && cpack --config CPackConfig-mime.cmake >/dev/null
	@ls -l $(PACKAGE_BUILD)/packages/*.deb

# Builds the packages, checks them with lintian, installs them, runs what they installed, purges them.
package-check:
	@scripts/package-check

fuzz: bootstrap
	@scripts/fuzz

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(PACKAGE_BUILD) build-fuzz
