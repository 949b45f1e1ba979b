# The two commands of the project: `make demo` and `make test`. Each installs the Debian
# packages that are missing, then configures and builds into build/.
PACKAGES := cmake ninja-build g++ pkg-config \
  qt6-base-dev libxcb1-dev libcurl4-openssl-dev libssl-dev zlib1g-dev libpugixml-dev \
  mdbtools mdbtools-dev libarchive-dev libgtest-dev libgmock-dev \
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  p7zip-full zip unzip tinyproxy microsocks attr curl openssl python3 iproute2 \
  nlohmann-json3-dev fonts-ipafont-gothic xauth xvfb
BUILD := build
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

WIN_BUILD := build-win
# The Windows suite runs on the 64-bit build: Wine's 32-bit loader is a 32-bit Linux program,
# and machines without 32-bit Linux programs (this one) cannot start it. Where it runs,
# WIN_TEST_ARCH=i686 tests the program the shops install.
WIN_TEST_ARCH ?= x86_64
WIN_TEST_BUILD := $(if $(filter i686,$(WIN_TEST_ARCH)),$(WIN_BUILD),$(WIN_BUILD)64)
WIN_CONFIGURE = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-$(1).cmake -DQVU_WINDOWS_DEPS=$(CURDIR)/$(WIN_BUILD)/deps/$(1)

.PHONY: all deps build test demo bench clean windows-deps windows test-windows screenshot
all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure --timeout 600 -j2

demo: build
	tools/demo.sh $(BUILD)

bench: build
	bench/run.sh $(BUILD)

# The picture of the window in the README: the demo's candidates, drawn offscreen.
screenshot: build
	tools/demo.sh $(BUILD) --picture docs/window.png


# The Windows program (32-bit): build-win/bin and build-win/QueltaVersionUp-windows.zip. The
# cross compilers, Wine and the libraries built from Debian's sources come first.
windows-deps: deps
	tools/windows/deps.sh $(WIN_BUILD) i686 $(WIN_TEST_ARCH)

windows: deps
	tools/windows/deps.sh $(WIN_BUILD) i686
	$(call WIN_CONFIGURE,i686) -B $(WIN_BUILD)
	cmake --build $(WIN_BUILD) -j2

# The Windows suite under Wine (not yet part of make test).
test-windows: deps
	tools/windows/deps.sh $(WIN_BUILD) $(WIN_TEST_ARCH)
	$(call WIN_CONFIGURE,$(WIN_TEST_ARCH)) -B $(WIN_TEST_BUILD)
	cmake --build $(WIN_TEST_BUILD) -j2
	tools/windows/wine.sh ctest $(WIN_TEST_BUILD) --output-on-failure --timeout 600 -j2

# The Windows libraries (build-win/deps) stay: they take many minutes to build.
clean:
	rm -rf $(BUILD) $(WIN_BUILD)64
	[ ! -d $(WIN_BUILD) ] || find $(WIN_BUILD) -mindepth 1 -maxdepth 1 ! -name deps -exec rm -rf {} +
