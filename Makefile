# One-command entry points. Each target installs the build packages that are missing (Debian),
# configures the matching CMake preset and builds.

PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev nlohmann-json3-dev libcli11-dev \
            rapidjson-dev libgtest-dev libgmock-dev libbenchmark-dev libfcl-dev clang-format clang-tidy \
            valgrind
# The cross builds: the header-only libraries and GoogleTest's sources (built for the target) come
# from the build machine's packages; the compilers and the runners from these.
CROSS_PACKAGES := cmake ninja-build nlohmann-json3-dev libcli11-dev rapidjson-dev googletest
WINDOWS_PACKAGES := $(CROSS_PACKAGES) g++-mingw-w64-x86-64-posix wine wine64
SPARC64_PACKAGES := $(CROSS_PACKAGES) g++-sparc64-linux-gnu qemu-user
SPARC64_SYSROOT := /usr/sparc64-linux-gnu
# kep-host's 3D page is bundled from npm packages at build time (Node.js and npm), and its tests
# open it in headless Chromium: installed when their commands are missing (a machine may have
# Node.js and npm from elsewhere).
PAGE_COMMANDS := node:nodejs npm:npm
BROWSER_COMMANDS := chromium:chromium
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
# The cross suites' tests to run (a ctest -R pattern over the test programs); all by default.
CROSS_TESTS ?= .

.PHONY: deps demo test dev release bench sweep fuzz tsan memcheck format check-format tidy clean \
        test-windows-x64 test-sparc64 test-default-visibility

# $(call install_missing,<packages>): installs those of the Debian packages that are missing.
define install_missing
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

# $(call install_commands,<command:package>...): installs the package of each missing command.
define install_commands
	@missing=""; for cp in $(1); do command -v $${cp%%:*} >/dev/null 2>&1 || missing="$$missing $${cp#*:}"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))
	$(call install_commands,$(PAGE_COMMANDS) $(BROWSER_COMMANDS))

# The development build and the optimised one with the benchmarks: the preset of the target's name.
dev release: deps
	cmake --preset $@ >/dev/null
	cmake --build --preset $@ -j $(JOBS)

demo: dev
	./scripts/demo.sh build/dev

# The format check first, clang-tidy on the two libraries once they are built, then the suite.
test: deps
	cmake --preset asan >/dev/null
	$(MAKE) --no-print-directory check-format
	cmake --build --preset asan -j $(JOBS)
	$(MAKE) --no-print-directory tidy
	ctest --preset asan -j $(JOBS)

# The Windows x64 build (mingw-w64) and its suite under wine, then the demo against its golden
# text (line ends aside: the Windows console ends lines with CR LF). The wine prefix is made once
# before the build, whose test discovery and runs may start wine side by side.
test-windows-x64:
	$(call install_missing,$(WINDOWS_PACKAGES))
	$(call install_commands,$(PAGE_COMMANDS))
	scripts/wine-run.sh
	cmake --preset windows-x64 >/dev/null
	cmake --build --preset windows-x64 -j $(JOBS)
	ctest --preset windows-x64 -j $(JOBS) -R '$(CROSS_TESTS)'
	cd build/windows-x64 && ../../scripts/wine-run.sh bin/kep-host.exe demo | tr -d '\r' | diff - ../../tests/host/golden/demo.txt
	@echo "windows-x64: the demo prints the golden text"

# The SPARC 64-bit build and its suite under qemu-sparc64, then the demo against its golden text.
test-sparc64:
	$(call install_missing,$(SPARC64_PACKAGES))
	$(call install_commands,$(PAGE_COMMANDS))
	cmake --preset sparc64 >/dev/null
	cmake --build --preset sparc64 -j $(JOBS)
	ctest --preset sparc64 -j $(JOBS) -R '$(CROSS_TESTS)'
	cd build/sparc64 && qemu-sparc64 -L $(SPARC64_SYSROOT) bin/kep-host demo | diff - ../../tests/host/golden/demo.txt
	@echo "sparc64: the demo prints the golden text"

# Both libraries compiled with every symbol default-visible (KEP_DEFAULT_VISIBILITY, as CMake
# before 3.31 compiles them with Developer Studio): the export lists alone must keep the exports
# to the designed ones. Builds and runs the two export tests only (build/default-visibility).
test-default-visibility: deps
	cmake -S . -B build/default-visibility -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEP_DEFAULT_VISIBILITY=ON \
	  -DKEP_WARNINGS_AS_ERRORS=ON >/dev/null
	cmake --build build/default-visibility -j $(JOBS) --target registration_test kep_support_test
	build/default-visibility/bin/registration_test --gtest_brief=1 --gtest_filter='KepExports.*'
	build/default-visibility/bin/kep_support_test --gtest_brief=1 --gtest_filter='KepSupportExports.*'

bench: release
	./scripts/bench.sh build/release

# The fault sweep over every entry point the platform calls (asan preset), with its table.
sweep: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS) --target sweep_test
	KEP_SWEEP_TABLE=1 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  build/asan/bin/sweep_test

# libFuzzer (clang): builds build/fuzz and runs each target FUZZ_SECONDS over its seed corpus
# (fuzz/corpus/<target>, read only; new inputs go to build/fuzz/corpus/<target>, findings to
# build/fuzz/artifacts). Each target's log is build/fuzz/<target>.log.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := matrix_text alt_rep_suffix site_loader services
fuzz: deps
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DKEP_SANITIZE=ON -DKEP_FUZZ=ON >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@set -e; mkdir -p build/fuzz/artifacts; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  build/fuzz/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/$$t- build/fuzz/corpus/$$t fuzz/corpus/$$t \
	    > build/fuzz/$$t.log 2>&1 || { tail -60 build/fuzz/$$t.log; exit 1; }; \
	  grep -E "^(stat::number_of_executed_units|stat::new_units_added|Done)" build/fuzz/$$t.log; \
	done

# kep_support's lock under ThreadSanitizer: the threads stress tests of hostile_test, everything
# built with -fsanitize=thread in build/tsan. Reports go to standard output: the tests capture
# standard error.
tsan: deps
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEP_SANITIZE=OFF \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
	cmake --build build/tsan -j $(JOBS) --target hostile_test
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:log_path=stdout build/tsan/bin/hostile_test --gtest_filter='*Threads*'

# Every test program of a build without sanitizers (build/memcheck) under Valgrind memcheck: no
# error and no definite leak. Each program's log is build/memcheck/<program>.memcheck.log.
# KEP_UNDER_VALGRIND=1 is set for tests that want to know they run under Valgrind;
# MEMCHECK_FILTER (a gtest filter) narrows the run.
MEMCHECK_FILTER ?= *
memcheck: deps
	cmake -S . -B build/memcheck -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEP_SANITIZE=OFF >/dev/null
	cmake --build build/memcheck -j $(JOBS)
	@failed=""; for t in build/memcheck/bin/*_test; do \
	  name=$$(basename $$t); echo "valgrind $$name"; \
	  KEP_UNDER_VALGRIND=1 valgrind --quiet --error-exitcode=99 --leak-check=full \
	    --errors-for-leak-kinds=definite --suppressions=tests/sweep/memcheck.supp \
	    $$t --gtest_brief=1 '--gtest_filter=$(MEMCHECK_FILTER)' > build/memcheck/$$name.memcheck.log 2>&1; \
	  case $$? in \
	    0) ;; \
	    99) echo "  memory errors or definite leaks: build/memcheck/$$name.memcheck.log"; failed="$$failed $$name";; \
	    *) grep -E "^\[  FAILED  \]" build/memcheck/$$name.memcheck.log | sed 's/^/  /'; failed="$$failed $$name";; \
	  esac; \
	done; \
	if [ -n "$$failed" ]; then echo "memcheck failed:$$failed"; exit 1; fi; \
	echo "memcheck: no error, no definite leak"

format:
	find itk tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

check-format:
	find itk tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run --Werror
	@echo "check-format: every source file is formatted"

# clang-tidy over the two libraries' sources (the checks of .clang-tidy, every finding an error),
# with the compile commands of the asan build folder. The libraries are built first: their ident
# sources include a header the build writes.
tidy:
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS) --target kep kep_support
	find itk/kep_itk -name '*.cpp' | sort | xargs -P $(JOBS) -n 4 clang-tidy --quiet -p build/asan
	@echo "tidy: no finding in the two libraries"

clean:
	rm -rf build
