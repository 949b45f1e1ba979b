# The two commands of the project: `make demo` and `make test`. Each installs the Debian
# packages that are missing, then configures and builds into build/.
PACKAGES := cmake ninja-build g++ pkg-config \
  qt6-base-dev libxcb1-dev libcurl4-openssl-dev libssl-dev zlib1g-dev libpugixml-dev \
  mdbtools mdbtools-dev unixodbc-dev odbc-mdbtools libarchive-dev libgtest-dev libgmock-dev \
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  p7zip-full zip unzip tinyproxy microsocks attr curl openssl python3 iproute2 \
  nlohmann-json3-dev fonts-ipafont-gothic xauth xvfb valgrind
BUILD := build
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build test demo bench screenshot clean
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

clean:
	rm -rf $(BUILD)
