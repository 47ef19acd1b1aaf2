# One-command entry points. Each target installs the build packages that are missing (Debian),
# configures the matching CMake preset and builds.

PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev nlohmann-json3-dev libcli11-dev \
            libgtest-dev libgmock-dev libbenchmark-dev libfcl-dev clang-format valgrind
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)

.PHONY: deps demo test dev release bench sweep fuzz memcheck format check-format clean

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

dev: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev -j $(JOBS)

demo: dev
	./scripts/demo.sh build/dev

test: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

bench: release
	./scripts/bench.sh build/release

format:
	find itk tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

check-format:
	find itk tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
