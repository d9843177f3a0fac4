# Tamboril's front door.
#
#   make          install what is missing, configure and build every target
#                 (native, native under sanitizers, 32-bit Windows)
#   make test     the same, then every test: native, sanitizers, and the
#                 Windows build under Wine; fails if any test fails
#   make play     build the native tool and render the demo song to demo.wav
#   make dist     the Windows plug-in as dist/tamboril-VERSION-win32.zip
#   make screenshots
#                 the README's pictures of the configuration sheet and the
#                 about box, under Wine on Xvfb, into docs/
#   make install-audacious
#                 the Audacious plug-in into Audacious's plug-in folder
#                 (AUDACIOUS_PLUGIN_DIR, by default the system's: needs root)
#   make fuzz     build the fuzz targets with clang and libFuzzer, run each
#                 for FUZZ_SECONDS (default 180) on FUZZ_JOBS cores (default
#                 all) and merge new finds into fuzz/corpus (fuzz/run.sh);
#                 FUZZ_TARGETS picks some of load song chip settings shell
#
# Single targets: native asan tsan win32, test-native test-asan test-tsan
# test-win32 test-audacious,
# clean (build outputs), distclean (the build folders).
#
# Each target first installs only the parts it needs (scripts/bootstrap):
# native, asan and play the native part; win32 the native and Windows
# parts; make, make test and install-audacious also the extras (Audacious
# with its headers, so that the native build makes the Audacious plug-in and
# its tests run); fuzz the native and fuzz parts. bootstrap-native,
# bootstrap-windows, bootstrap-extras and bootstrap-fuzz run one part;
# bootstrap runs native, Windows and extras. When everything is there the check
# takes a moment and needs no root.
# Builds run on two cores; set JOBS=n to change that.

JOBS ?= 2
PRESETS := native asan win32 tsan
# ThreadSanitizer builds the plug-in shell's tests only.
TSAN_TARGETS := tamboril_shell_test tamboril_shell_stress_test tamboril_shell_render_test
VERSION := $(shell grep -o 'project.Tamboril VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
CTEST_FLAGS := -j$(JOBS) --output-on-failure --no-tests=error --timeout 1800

.NOTPARALLEL:
.PHONY: all build bootstrap bootstrap-native bootstrap-windows bootstrap-extras bootstrap-fuzz \
        $(PRESETS) test $(addprefix test-,$(PRESETS)) test-audacious install-audacious \
        screenshot-audacious screenshots \
        play dist fuzz clean distclean

all: build

# One bootstrap for every part first, so a bare machine updates apt's index
# at most once.
build: bootstrap $(PRESETS)

bootstrap:
	@sh scripts/bootstrap native windows extras

bootstrap-native bootstrap-windows bootstrap-extras bootstrap-fuzz: bootstrap-%:
	@sh scripts/bootstrap $*

# Configure a preset once; later runs of ninja re-run CMake by themselves
# when a CMakeLists.txt changes. The Windows build also needs the native
# part (CMake, Ninja).
build/native/build.ninja build/asan/build.ninja build/tsan/build.ninja: | bootstrap-native
build/win32/build.ninja: | bootstrap
build/%/build.ninja: CMakePresets.json
	cmake --preset $*

native asan win32: %: build/%/build.ninja
	cmake --build build/$* -j$(JOBS)

tsan: build/tsan/build.ninja
	cmake --build build/tsan -j$(JOBS) --target $(TSAN_TARGETS)

test: build
	@bash scripts/run-all-tests

test-native: native
	ctest --test-dir build/native $(CTEST_FLAGS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:max_allocation_size_mb=512 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir build/asan $(CTEST_FLAGS)

test-win32: win32
	sh scripts/run-win32-tests build/win32

# Under ThreadSanitizer the shell's tests, and the plug-in's output checked
# against the tool at one rate: the other rates cost half an hour there and
# run in every other build.
test-tsan: tsan
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan $(CTEST_FLAGS) -R 'ShellTest|SettingsStore|SameBits.*Hz11025'

FUZZ_SECONDS ?= 180
FUZZ_TARGETS ?= load song chip settings shell
fuzz:
	@sh scripts/bootstrap native fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) sh fuzz/run.sh $(FUZZ_TARGETS)

# The Audacious plug-in's tests (also part of test-native and make test).
test-audacious: bootstrap-extras native
	ctest --test-dir build/native $(CTEST_FLAGS) -R '^AudaciousTest\.'

# Audacious has no plug-in folder of the user's own: it loads plug-ins from
# the folder beside its binary, the system's.
AUDACIOUS_PLUGIN_DIR ?= $(shell pkg-config --variable=plugin_dir audacious 2>/dev/null)
install-audacious: bootstrap-extras native
	@test -f build/native/audacious/tamboril.so || \
	    { echo "install-audacious: no build/native/audacious/tamboril.so (is audacious-dev installed?)"; exit 1; }
	@test -n "$(AUDACIOUS_PLUGIN_DIR)" || \
	    { echo "install-audacious: pkg-config knows no audacious; set AUDACIOUS_PLUGIN_DIR"; exit 1; }
	install -d $(DESTDIR)$(AUDACIOUS_PLUGIN_DIR)/Input
	install -m 644 build/native/audacious/tamboril.so $(DESTDIR)$(AUDACIOUS_PLUGIN_DIR)/Input/tamboril.so
	@echo "installed: restart Audacious, then see Settings > Plugins > Input > Tamboril GYM Player"

# The README's picture of the Audacious preferences page, made under Xvfb.
screenshot-audacious: bootstrap-extras native
	mkdir -p docs
	sh scripts/audacious-screenshot build/native/audacious/tamboril.so \
	    build/native/tests/audacious/tamboril-prefs-snapshot.so docs/audacious-preferences.png

# The README's pictures of the configuration sheet (English and Japanese)
# and of the about box, from the real plug-in under Wine on Xvfb.
screenshots: bootstrap win32
	scripts/screenshots build/win32 docs

# The stripped plug-in and its install text, zipped.
dist: win32
	rm -rf build/dist && mkdir -p build/dist/tamboril-$(VERSION) dist
	i686-w64-mingw32-strip -o build/dist/tamboril-$(VERSION)/in_dru.dll build/win32/host/in_dru.dll
	cp host/INSTALL.txt build/dist/tamboril-$(VERSION)/INSTALL.txt
	cd build/dist && cmake -E tar cf ../../dist/tamboril-$(VERSION)-win32.zip --format=zip tamboril-$(VERSION)
	@echo "dist/tamboril-$(VERSION)-win32.zip"

play: native
	build/native/tamboril render examples/demo.gym.zip -o demo.wav

clean:
	@for p in $(PRESETS); do \
	    if [ -f build/$$p/build.ninja ]; then ninja -C build/$$p -t clean >/dev/null; fi; \
	done

distclean:
	rm -rf $(addprefix build/,$(PRESETS))
