# make test: set-up, both builds, the native tests, then the Windows tests under Wine.
# make demo: the program under Wine against the module simulator (see README).

CMAKE ?= cmake
CTEST ?= ctest
# Debian's own Python, where apt installs python3-pefile (a python3 earlier in PATH may not see it).
PYTHON ?= /usr/bin/python3

.PHONY: test deps sqlite-mingw native windows windows-x64 sanitize test-native test-sanitize test-windows clean
.PHONY: fuzz fuzz-short fuzz-long bench-wine bench-cli check-shipped dist format check-format
.PHONY: deb install test-deb test-shipped test-usb test-web web-shots

# The shipped program is the 32-bit build (windows); its tests run from the 64-bit build of
# the same sources (windows-x64), since only wine64 can run on this kind of machine. The
# shipped files themselves run last, under 32-bit Wine in an emulated PC (test-shipped).
test: deps check-format native windows windows-x64 check-shipped dist test-native test-sanitize fuzz-short test-windows test-web test-deb test-shipped test-usb

deps:
	@bash scripts/deps.sh

# Every C and C++ file of the repository follows .clang-format (Debian's clang-format 14):
# make format rewrites them, make check-format (part of make test) fails on any difference.
CLANG_FORMAT ?= clang-format
FORMATTED = $(shell git ls-files '*.c' '*.cpp' '*.h')

format: deps
	@$(CLANG_FORMAT) -i $(FORMATTED)

check-format: deps
	@$(CLANG_FORMAT) --dry-run --Werror $(FORMATTED) || \
	  { echo "Unformatted C++ above: run make format" >&2; exit 1; }

# SQLite for the Windows builds' ledger, compiled with MinGW-w64 from Debian's sqlite3 source
# package into build/sqlite-mingw/{i686,x86_64}: once, a minute or two; kept afterwards.
sqlite-mingw: deps
	@bash scripts/build-sqlite-mingw.sh build/sqlite-mingw

native: deps
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native

# A build directory configured with a toolchain file that no longer exists (before the two
# MinGW-w64 files became one) cannot be configured again in place: start its cache afresh.
# Both presets link the SQLite of build/sqlite-mingw statically (the ledger).
windows: deps sqlite-mingw
	@$(CMAKE) --preset windows >/dev/null 2>&1 || $(CMAKE) --preset windows --fresh >/dev/null
	@$(CMAKE) --build --preset windows

windows-x64: deps sqlite-mingw
	@$(CMAKE) --preset windows-x64 >/dev/null 2>&1 || $(CMAKE) --preset windows-x64 --fresh >/dev/null
	@$(CMAKE) --build --preset windows-x64

# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer (clang).
sanitize: deps
	@$(CMAKE) --preset sanitize >/dev/null
	@$(CMAKE) --build --preset sanitize

test-native: native
	@$(CTEST) --preset native

test-sanitize: sanitize
	@$(CTEST) --preset sanitize

# The command line's e2e test reads the ledger corvane.exe writes with the native corvane.
test-windows: native windows-x64
	@bash scripts/wine-session.sh build/windows-x64 $(CTEST) --preset windows-x64

# The web view in a real browser (Debian's headless chromium through chromedriver): every
# tests/web/test_*.py against the native build, then the tests marked for it against the
# x86_64 build's corvane.exe under wine64, read by the same native chromium. Screenshots go to
# build/web-shots.
test-web: native windows-x64
	@for t in tests/web/test_*.py; do $(PYTHON) $$t || exit 1; done
	@bash scripts/wine-session.sh build/windows-x64 sh -c 'for t in tests/web/test_*.py; do \
	  $(PYTHON) $$t --wine-exe build/windows-x64/cli/corvane.exe || exit 1; done'

# The README's pictures of the board and the dashboard, as the browser tests took them.
web-shots: test-web
	@cp build/web-shots/board.png build/web-shots/dashboard.png docs/

# The shipped i686 files, which cannot run here, checked statically against the x86_64 build
# that the tests run: same resources, subsystem, ASLR and DEP, system DLLs only, the same TLS
# callbacks. --self-test damages copies to see each fault caught.
check-shipped: windows windows-x64
	@$(PYTHON) tests/shipped/check_shipped.py --self-test

# The release bundle: build/dist/Corvane_BT_Setup-1.2-win32.zip, and beside it the Linux
# package, both in build/dist/SHA256SUMS (see README).
dist: check-shipped deb
	@$(PYTHON) scripts/make_dist.py

# The shipped i686 files themselves under 32-bit Wine, in an emulated PC (qemu without KVM,
# whose stock Debian kernel runs 32-bit code): the command line's and the dialog's end-to-end
# tests, the serial check, the fault scenarios and the i686 GoogleTest programs. The guest
# image is built once (5 to 30 minutes) and kept in /var/cache/corvane; see the README.
test-shipped: deps windows
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native --target modsim
	@$(PYTHON) tests/vm32/run_vm32.py

# USB serial adapters in the same emulated PC (TCG like test-shipped; CORVANE_VM_ACCEL=kvm asks
# for KVM): the package's corvane against modsims behind qemu's emulated FTDI-type chips,
# plugged and unplugged while a station watches /dev/serial/by-path, then the shipped
# corvane.exe under 32-bit Wine. Reuses test-shipped's guest image; about 3 minutes.
test-usb: deps deb windows
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native --target modsim corvane
	@$(PYTHON) tests/vm32/run_usb.py --deb $$(ls -t build/dist/corvane_*.deb | head -n 1)

# The Linux package: build/dist/corvane_<version>-1_<arch>.deb (see README), from a release
# build of its own in build/deb. test-deb checks it with lintian, installs it into an empty
# root, reads a simulated module with what it installed, verifies the station's systemd unit
# and runs its command line as the service would, and removes it again.
deb: deps
	@$(PYTHON) scripts/make_deb.py

test-deb: deb
	@$(PYTHON) tests/deb/check_deb.py build/dist/corvane_*.deb

# make install: the same files without a package, under PREFIX (sudo make install).
PREFIX ?= /usr/local
install: deps
	@$(CMAKE) -S . -B build/install -DCMAKE_BUILD_TYPE=Release >/dev/null
	@$(CMAKE) --build build/install -j2 --target corvane modsim corvane_man
	@$(CMAKE) --install build/install --prefix $(PREFIX) --strip

# The libFuzzer target: clang with its own build directory, so the gcc builds stay as they are.
# fuzz-short (a fixed run of about half a minute for the operations, seconds for each parser)
# is part of make test; fuzz-long is a bench.
fuzz: deps
	@$(CMAKE) -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@$(CMAKE) --build build/fuzz -j2

fuzz-short: fuzz
	@$(CMAKE) --build build/fuzz --target fuzz-short

fuzz-long: fuzz
	@$(CMAKE) --build build/fuzz --target fuzz-long

# Benchmarks of the real program under Wine: size and imports of both builds, start-up to the
# dialog (also as a ratio to a minimal dialog program), Read and Program against modsim with
# their CPU time and overhead over the timeline.
bench-wine: native windows windows-x64
	@python3 bench/wine/bench_wine.py --exe32 build/windows/ui/Corvane_BT_Setup.exe \
		--exe64 build/windows-x64/ui/Corvane_BT_Setup.exe \
		--baseline build/windows-x64/bench/wine/startup_baseline.exe \
		--driver build/windows-x64/tests/e2e/uidriver.exe \
		--modsim build/native/tools/modsim/modsim --work build/bench-wine

# Benchmarks of the command line natively: corvane read and program against modsim (wall time
# over the timeline, CPU), then one gang run over 8 and one over 32 modsims. Both run even when
# the first misses a target; the target fails if either did.
bench-cli: deps
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native --target bench_cli bench_gang corvane modsim
	@build/native/bench/bench_cli --runs 3 --turn-off; cli=$$?; \
	  build/native/bench/bench_gang; gang=$$?; \
	  test $$cli -eq 0 && test $$gang -eq 0

clean:
	rm -rf build

# make demo: the program under Wine against the module simulator on a pty mapped as COM5. On a
# display it opens there; without one it runs on Xvfb, presses Read through the UI driver,
# saves docs/screenshot.png and prints the values read. make run: the program under Wine
# against the machine's own serial ports (needs a display). Both run the 64-bit build, the
# one this kind of machine can run; the shipped 32-bit program is built alongside.
.PHONY: demo run
DEMO_EXE = build/windows-x64/ui/Corvane_BT_Setup.exe

demo: deps
	@$(CMAKE) --preset native >/dev/null
	@$(CMAKE) --build --preset native --target modsim corvane
	@$(CMAKE) --preset windows >/dev/null
	@$(CMAKE) --build --preset windows --target Corvane_BT_Setup
	@$(CMAKE) --preset windows-x64 >/dev/null
	@$(CMAKE) --build --preset windows-x64 --target Corvane_BT_Setup uidriver
	@echo "Shipped program (32-bit): build/windows/ui/Corvane_BT_Setup.exe"
	@python3 tests/e2e/demo.py --exe $(DEMO_EXE) --driver build/windows-x64/tests/e2e/uidriver.exe \
	  --modsim build/native/tools/modsim/modsim --work build/windows-x64/demo \
	  --screenshot docs/screenshot.png
	@bash scripts/demo-cli.sh build/native/tools/modsim/modsim build/native/cli/corvane

run: deps
	@$(CMAKE) --preset windows-x64 >/dev/null
	@$(CMAKE) --build --preset windows-x64 --target Corvane_BT_Setup
	@python3 tests/e2e/demo.py --real-ports --exe $(DEMO_EXE) --work build/windows-x64/run
