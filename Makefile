# make test: set-up, both builds, the native tests, then the Windows tests under Wine.
# make demo: the program under Wine against the module simulator (see README).

CMAKE ?= cmake
CTEST ?= ctest

.PHONY: test deps native windows windows-x64 sanitize test-native test-sanitize test-windows clean

# The shipped program is the 32-bit build (windows); its tests run from the 64-bit build of
# the same sources (windows-x64), since only wine64 can run on this kind of machine.
test: deps native windows windows-x64 test-native test-sanitize test-windows

deps:
	@bash scripts/deps.sh

native: deps
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native

windows: deps
	@$(CMAKE) --preset windows >/dev/null
	@$(CMAKE) --build --preset windows

windows-x64: deps
	@$(CMAKE) --preset windows-x64 >/dev/null
	@$(CMAKE) --build --preset windows-x64

# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer (clang).
sanitize: deps
	@$(CMAKE) --preset sanitize >/dev/null
	@$(CMAKE) --build --preset sanitize

test-native: native
	@$(CTEST) --preset native

test-sanitize: sanitize
	@$(CTEST) --preset sanitize

test-windows: windows-x64
	@bash scripts/wine-session.sh build/windows-x64 $(CTEST) --preset windows-x64

clean:
	rm -rf build
