# The two commands of the README:
#   make run   builds the Linux program and opens its dialog
#   make test  builds every preset (native, sanitizer, Windows) and runs every test
# Both install what they need from Debian's packages first.
PRESETS := linux linux-asan windows
JOBS ?= $(shell nproc)

.PHONY: test run deps build $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

deps:
	@tools/setup-debian

define preset_rules
build-$(1): deps
	cmake --preset $(1) >/dev/null
	cmake --build --preset $(1) -j $(JOBS)

test-$(1): build-$(1)
	ctest --preset $(1) -j $(JOBS)
endef
$(foreach p,$(PRESETS),$(eval $(call preset_rules,$(p))))

build: $(addprefix build-,$(PRESETS))

test: deps
	$(MAKE) --no-print-directory test-linux test-linux-asan test-windows

run: build-linux
	@tools/run-linux
