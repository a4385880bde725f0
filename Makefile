# Front door. `make demo` and `make test` work on a fresh Debian 12 machine:
# they install whatever system packages are missing first.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local

# What building the programs and their package takes...
BUILD_PACKAGES = cmake g++ make pkg-config libfltk1.3-dev libusb-1.0-0-dev \
           libpugixml-dev zlib1g-dev libssl-dev libcli11-dev libzip-dev nlohmann-json3-dev \
           udev librsvg2-bin dpkg-dev
# ...and what the simulated linker's USB device, the tests and the checks of
# the package take on top.
PACKAGES = $(BUILD_PACKAGES) libgtest-dev \
           xvfb xauth xdotool umockdev libumockdev-dev clang libclang-rt-14-dev \
           python3-jsonschema desktop-file-utils appstream lintian

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps deb-deps build build-asan demo demo-usb run install uninstall deb test fuzz bench clean

all: build

deps: PACKAGES_WANTED = $(PACKAGES)
deb-deps: PACKAGES_WANTED = $(BUILD_PACKAGES)
deps deb-deps:
	@missing=""; for p in $(PACKAGES_WANTED); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPTB_TESTS=OFF
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPTB_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# The real GUI against the simulated linker holding a sample cartridge.
demo: build
	PTB_SIM_PACE=$${PTB_SIM_PACE-1} $(BUILD)/pockettetherbox-sim

# The production executable, unchanged, on an emulated USB device whose
# firmware and cartridge are the simulated ones (same PTB_SIM_* settings).
demo-usb: build
	$(BUILD)/sim/usb_launcher -- $(BUILD)/pockettetherbox

# The real GUI for a real Tetherbox.
run: build
	$(BUILD)/pockettetherbox

# The programs under PREFIX; the udev rule where udev reads its rules.
# CMake's own manifest is rewritten by every install, `make deb` included, so
# the list of what this install wrote is kept apart for `make uninstall`.
INSTALLED = $(BUILD)/installed-files.txt
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)
	sed 's|^|$(DESTDIR)|' $(BUILD)/install_manifest.txt > $(INSTALLED)

uninstall:
	@[ -f $(INSTALLED) ] || { echo "Nothing installed from $(BUILD)"; exit 1; }
	xargs -r -d '\n' rm -fv < $(INSTALLED)
	rm -f $(INSTALLED)

# pockettetherbox_<version>_<arch>.deb in this folder, for `apt install ./...`:
# built from scratch, of nothing but what it ships, with the hardening flags
# Debian builds its packages with. Every run of one commit gives the same
# bytes: file times are the commit's, neither the source's folder nor the
# build's is left in the programs, and the umask, which CPack hands on to the
# package's members, is set (packaging/check-deb.sh checks it).
DEB_BUILD ?= build-deb
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
deb: deb-deps
	rm -rf $(DEB_BUILD) pockettetherbox_*.deb
	export SOURCE_DATE_EPOCH=$$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt) && \
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=None -DPTB_TESTS=OFF -DPTB_SIMULATOR=OFF \
	  -DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CXXFLAGS) $$($(DEB_FLAGS) CPPFLAGS) -ffile-prefix-map=$(abspath $(DEB_BUILD))=build" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" && \
	cmake --build $(DEB_BUILD) -j$(JOBS) && \
	cd $(DEB_BUILD) && umask 022 && cpack --config CPackConfig.cmake -B deb
	cp $(DEB_BUILD)/deb/pockettetherbox_*.deb .

test: build-asan
	cd $(ASAN_BUILD) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  xvfb-run -a -s "-screen 0 1024x768x24 -noreset" ctest --output-on-failure -j$(JOBS) --timeout 300

# Time and memory of the write, backup and verify methods, what a dump's
# identity costs, and the idle look for a linker (no sanitizers).
bench: build
	cmake --build $(BUILD) --target flash_bench backup_verify_bench identity_bench save_bench linker_idle_bench usb_launcher -j$(JOBS)
	cd $(BUILD) && xvfb-run -a -s "-noreset" sh -c 'HOME=$$PWD ./bench/flash_bench && ./bench/backup_verify_bench && ./bench/identity_bench && ./bench/save_bench && ./sim/usb_launcher --fresh -- ./bench/linker_idle_bench'

# Longer fuzzing of the NGF reader than the suite's 20 seconds.
FUZZ_SECONDS ?= 300
fuzz: deps
	sh tests/fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD) build-fuzz pockettetherbox_*.deb
