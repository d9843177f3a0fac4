# Tamboril's front door.
#
#   make          install what is missing, configure and build every target
#                 (native, native under sanitizers, 32-bit Windows)
#   make test     the same, then every test: native, sanitizers, and the
#                 Windows build under Wine; fails if any test fails
#   make play     build the native tool and render the demo song to demo.wav
#   make format   lay out the product's C++ files as .clang-format says
#                 (make test checks them; make check-format alone)
#   make dist     the Windows plug-in as dist/tamboril-VERSION-win32.zip and
#                 the web page as dist/tamboril-VERSION-web.zip
#   make screenshots
#                 the README's pictures of the configuration sheet and the
#                 about box, under Wine on Xvfb, into docs/
#   make install-audacious
#                 the Audacious plug-in into Audacious's plug-in folder
#                 (AUDACIOUS_PLUGIN_DIR, by default the system's: needs root)
#   make web      the page that plays songs in a browser, the engine compiled
#                 to WebAssembly with Debian's emscripten, into build/web/
#                 (opens from the folder as it is, file://, or served)
#   make serve-web
#                 serves build/web/ on http://localhost:$(WEB_PORT) (8417)
#   make test-web the engine in Node and the page in headless Chromium,
#                 checked against the native tool (also part of make test)
#   make screenshot-web, make measure-web
#                 the README's picture of the page; render speed in the
#                 browser against the tool and the page's memory
#   make fuzz     build the fuzz targets with clang and libFuzzer, run each
#                 for FUZZ_SECONDS (default 180) on FUZZ_JOBS cores (default
#                 all) and merge new finds into fuzz/corpus (fuzz/run.sh);
#                 FUZZ_TARGETS picks some of load song chip settings shell vgm
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
# bootstrap-windows, bootstrap-extras, bootstrap-fuzz and bootstrap-web run
# one part (web: emscripten and Chromium; make test-web also installs the test
# driver from npm into web/test/node_modules);
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
.PHONY: all build bootstrap bootstrap-native bootstrap-windows bootstrap-extras bootstrap-fuzz bootstrap-web \
        web serve-web test-web screenshot-web measure-web format check-format \
        $(PRESETS) test $(addprefix test-,$(PRESETS)) test-audacious install-audacious \
        screenshot-audacious screenshots \
        play dist fuzz clean distclean

all: build

# One bootstrap for every part first, so a bare machine updates apt's index
# at most once.
build: bootstrap $(PRESETS) web

bootstrap:
	@sh scripts/bootstrap native windows extras web

bootstrap-native bootstrap-windows bootstrap-extras bootstrap-fuzz bootstrap-web: bootstrap-%:
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

# The product's code laid out as .clang-format says; make test checks it.
format: bootstrap-native
	@sh scripts/check-format --fix

check-format: bootstrap-native
	@sh scripts/check-format

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
FUZZ_TARGETS ?= load song chip settings shell vgm
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

# The stripped plug-in and its install text, zipped; the web page too.
dist: win32 web
	rm -rf build/dist && mkdir -p build/dist/tamboril-$(VERSION) dist
	i686-w64-mingw32-strip -o build/dist/tamboril-$(VERSION)/in_dru.dll build/win32/host/in_dru.dll
	cp host/INSTALL.txt build/dist/tamboril-$(VERSION)/INSTALL.txt
	cd build/dist && cmake -E tar cf ../../dist/tamboril-$(VERSION)-win32.zip --format=zip tamboril-$(VERSION)
	@echo "dist/tamboril-$(VERSION)-win32.zip"
	rm -rf build/dist/tamboril-$(VERSION)-web && cp -r $(WEB_OUT) build/dist/tamboril-$(VERSION)-web
	cd build/dist && cmake -E tar cf ../../dist/tamboril-$(VERSION)-web.zip --format=zip tamboril-$(VERSION)-web
	@echo "dist/tamboril-$(VERSION)-web.zip"

play: native
	build/native/tamboril render examples/demo.gym.zip -o demo.wav

clean:
	@for p in $(PRESETS); do \
	    if [ -f build/$$p/build.ninja ]; then ninja -C build/$$p -t clean >/dev/null; fi; \
	done

distclean:
	rm -rf $(addprefix build/,$(PRESETS)) $(WEB_OUT) $(WEB_OBJ)

# The browser build. The engine (the player, both chips, the loader and
# zlib's and minizip's reading halves, from the source cache that
# scripts/fetch-minizip fills) is compiled by emcc into one JavaScript file
# with the WebAssembly embedded, so that the page also works opened from a
# folder. emcc runs its JavaScript optimizer under the machine's Node, which
# finds Debian's acorn only through NODE_PATH.
EMCC := NODE_PATH=/usr/share/nodejs emcc
WEB_OUT := build/web
WEB_OBJ := build/web-obj
WEB_PORT ?= 8417
WEB_CXX_SOURCES := web/engine.cpp $(wildcard fm/*.cpp psg/*.cpp player/*.cpp) \
    platform/text_posix.cpp platform/file_posix.cpp
WEB_ZLIB_FILES := adler32 crc32 inffast inflate inftrees uncompr zutil
WEB_MINIZIP_FILES := unzip ioapi
WEB_OBJECTS := $(patsubst %.cpp,$(WEB_OBJ)/%.o,$(WEB_CXX_SOURCES)) \
    $(patsubst %,$(WEB_OBJ)/_deps/zlib/%.o,$(WEB_ZLIB_FILES)) \
    $(patsubst %,$(WEB_OBJ)/_deps/minizip/%.o,$(WEB_MINIZIP_FILES))
WEB_PAGE_FILES := index.html style.css glue.js tamboril.js app.js
# The engine's own functions are marked for export in web/engine.cpp.
WEB_EXPORTS := malloc free
WEB_CFLAGS := -O3 -I. -I$(WEB_OBJ)/_deps/zlib -I$(WEB_OBJ)/_deps/minizip
comma := ,
WEB_LDFLAGS := -O3 -sMODULARIZE=1 -sEXPORT_NAME=createTamborilEngine -sSINGLE_FILE=1 \
    -sALLOW_MEMORY_GROWTH=1 \
    '-sEXPORTED_FUNCTIONS=[$(subst $(eval) ,$(comma),$(patsubst %,"_%",$(WEB_EXPORTS)))]' \
    '-sEXPORTED_RUNTIME_METHODS=["UTF8ToString","stringToUTF8","lengthBytesUTF8"]'

web: bootstrap-web $(WEB_OUT)/engine.js $(addprefix $(WEB_OUT)/,$(WEB_PAGE_FILES))

$(WEB_OBJ)/_deps/stamp:
	@mkdir -p $(WEB_OBJ)/_deps/zlib $(WEB_OBJ)/_deps/minizip
	cp "$$(sh scripts/fetch-minizip --zlib)"/* $(WEB_OBJ)/_deps/zlib/
	cp "$$(sh scripts/fetch-minizip)"/* $(WEB_OBJ)/_deps/minizip/
	@touch $@

$(WEB_OBJ)/_deps/%.o: $(WEB_OBJ)/_deps/stamp
	$(EMCC) $(WEB_CFLAGS) -w -c $(WEB_OBJ)/_deps/$*.c -o $@

$(WEB_OBJ)/%.o: %.cpp | $(WEB_OBJ)/_deps/stamp
	@mkdir -p $(dir $@)
	$(EMCC) $(WEB_CFLAGS) -std=c++17 -Wall -Wextra -MMD -MP -c $< -o $@

$(WEB_OUT)/engine.js: $(WEB_OBJECTS)
	@mkdir -p $(WEB_OUT)
	$(EMCC) $(WEB_LDFLAGS) $^ -o $@

$(WEB_OUT)/%: web/%
	@mkdir -p $(WEB_OUT)
	cp $< $@

-include $(patsubst %.cpp,$(WEB_OBJ)/%.d,$(WEB_CXX_SOURCES))

serve-web: web
	@echo "Tamboril's page: http://localhost:$(WEB_PORT)/ (Ctrl-C ends)"
	cd $(WEB_OUT) && python3 -m http.server --bind 127.0.0.1 $(WEB_PORT)

test-web: web native
	sh web/test/run build/web build/native/tamboril

# The README's picture of the page playing, taken by the page test in
# headless Chromium.
screenshot-web: web native
	mkdir -p docs
	WEB_SCREENSHOT=$(CURDIR)/docs/web-player.png WEB_TESTS='WebBrowser.(Starts|PagePlaysFromFolder)' \
	    sh web/test/run build/web build/native/tamboril

# Render speed in the browser against the tool, and the page's memory with a
# ten-minute song.
measure-web: web native
	@test -d web/test/node_modules/playwright-core || (cd web/test && npm ci --no-audit --no-fund --ignore-scripts)
	node web/test/measure.js build/web build/native/tamboril
