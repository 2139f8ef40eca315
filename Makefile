# The front door: `make run` shows the sample, `make test` builds and tests
# everything, `make check` is the quick check for everyday work.
.PHONY: run test check bench package install native asan win32 win64 i686 s390x clean
MAKEFLAGS += --no-print-directory

WINE_ENV = WINEPREFIX=$(CURDIR)/build/win32/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
PREFIX = /usr/local

# show PROGRAM [RUNNER]: sample/test.txt through PROGRAM, and its exit code.
show = echo "--- sample/test.txt through $(1)$(if $(2), under Wine):"; \
  (cd sample && $(2) ../$(1)); code=$$?; echo; echo "--- exit code $$code"

# The native program, then each Windows image whose packages apt installed.
run:
	@scripts/install-deps.sh run
	@cmake --preset native >/dev/null && cmake --build --preset native --target showfile
	@$(call show,build/native/showfile)
	@for bits in 32 64; do grep -qx win$$bits build/presets || continue; \
	  cmake --preset win$$bits >/dev/null && \
	    cmake --build --preset win$$bits --target showfile.exe_folded || exit 1; \
	  [ -d build/win32/wineprefix ] || { mkdir -p build/win32 && $(WINE_ENV) wineboot --init >/dev/null 2>&1; }; \
	  $(call show,build/win$$bits/showfile.exe,$(WINE_ENV) wine); done; \
	  $(WINE_ENV) wineserver --kill 2>/dev/null || true
	@scripts/install-deps.sh left-out run

# Every preset whose packages apt installed; then, if it refused any, a line
# naming them, and make fails.
test:
	@scripts/install-deps.sh test
	@presets=$$(cat build/presets); [ -z "$$presets" ] || $(MAKE) $$presets
	@scripts/install-deps.sh left-out

# ctest PRESET BUILD: the tests, then why each test that was skipped was.
define ctest
	@status=0; ctest --preset $(1) || status=$$?; \
	  awk '/^[0-9]+\/[0-9]+ Test: / { test = $$3 } \
	       /^skipped: / { sub(/^skipped: [^:]*: /, ""); print "skipped: " test ": " $$0 } \
	       /: Skipped$$/ { getline; print "skipped: " test ": " $$0 }' \
	    build/$(2)/Testing/Temporary/LastTest.log; exit $$status
endef

# The unit tests and the native end-to-end table only.
check:
	@scripts/install-deps.sh check
	@cmake --preset native >/dev/null
	@cmake --build --preset native
	$(call ctest,check,native)

# The Debian package and the Windows ZIPs, into build/packages/.
package:
	@scripts/install-deps.sh run
	@cmake --preset native >/dev/null
	@cmake --build --preset native --target showfile package_files
	@for preset in win32 win64; do cmake --preset $$preset >/dev/null && \
	  cmake --build --preset $$preset --target showfile.exe_folded || exit 1; done
	cd build/native && cpack
	cd build/win32 && cpack
	cd build/win64 && cpack

# The native program and its documents under PREFIX (default /usr/local).
install:
	@scripts/install-deps.sh install
	@cmake --preset native >/dev/null
	@cmake --build --preset native --target showfile package_files
	cmake --install build/native --prefix $(PREFIX)

# Benchmarks: see BENCHMARKS.md.
bench:
	@scripts/install-deps.sh bench
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	build/bench/bench/text_length_bench
	bench/compare.sh build/bench/showfile build/bench/bench/floor build/bench/times.txt
	bench/plot.sh build/bench/bench/text_length_bench build/bench

native asan win32 win64 i686 s390x:
	cmake --preset $@
	cmake --build --preset $@
	$(call ctest,$@,$@)

clean:
	rm -rf build
