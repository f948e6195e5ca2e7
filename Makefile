# The commands of the README:
#   make run   builds the Linux program and opens its dialog
#   make test  checks the sources (tools/check-source), builds every preset
#              (native, sanitizer, fuzz targets, Windows), runs every test,
#              then makes the packages and checks them
#   make test-tsan  builds the ThreadSanitizer preset and runs every test under it
#   make dist  writes the Debian package and the Windows zip into dist/
#   make fuzz  builds the fuzz targets and runs each for FUZZ_SECONDS seconds
# All install what they need from Debian's packages first.
NATIVE_PRESETS := linux linux-asan linux-fuzz
PRESETS := $(NATIVE_PRESETS) windows
# The Windows tests need Wine to start 32-bit programs. On a machine whose
# kernel runs no 32-bit code they run the same program built for x86-64
# (preset windows64) under 64-bit Wine instead; tools/probe-32bit decides, once
# per make test (NOVELFETCH_NO_32BIT=1 forces the fallback). The release files
# stay i686 either way.
FALLBACK_PRESETS := windows64
# Built and tested only when asked for (make test-tsan): one more whole build
# and run of the native suite, for a check that seldom finds anything new.
ON_REQUEST_PRESETS := linux-tsan
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

ALL_PRESETS := $(PRESETS) $(FALLBACK_PRESETS) $(ON_REQUEST_PRESETS)

.PHONY: test test-tsan fuzz run dist check-dist deps build $(addprefix build-,$(ALL_PRESETS)) $(addprefix test-,$(ALL_PRESETS))

deps:
	@tools/setup-debian

define preset_rules
build-$(1): deps
	cmake --preset $(1) >/dev/null
	cmake --build --preset $(1) -j $(JOBS)

test-$(1): build-$(1)
	ctest --preset $(1) -j $(JOBS)
endef
$(foreach p,$(ALL_PRESETS),$(eval $(call preset_rules,$(p))))

build: $(addprefix build-,$(PRESETS))

test: deps
	tools/check-source
	@runs=$$(tools/probe-32bit) && export NOVELFETCH_RUNS_32BIT=$$runs && \
	  if [ $$runs = yes ]; then windows=windows; else windows=windows64; fi && \
	  $(MAKE) --no-print-directory $(addprefix test-,$(NATIVE_PRESETS)) test-$$windows && \
	  $(MAKE) --no-print-directory check-dist

test-tsan: test-linux-tsan

# Findings (crashes, failed checks, leaks, time-outs) go to build/linux-fuzz/findings/;
# any of them makes this fail.
fuzz: build-linux-fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) tests/fuzz/run-fuzz

run: build-linux
	@tools/run-linux

# The packages hold the program of the linux and windows presets (optimised,
# the same one the tests run), stripped; only the program and what the
# packages add are built for them.
dist: deps
	rm -rf dist
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target debian_package
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target windows_zip

check-dist: dist
	tests/dist/check_dist.py --dist dist --build build \
	  --version $$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/linux/CMakeCache.txt)
