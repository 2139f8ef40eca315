# The front door: `make run` shows the sample, `make test` builds and tests everything.
.PHONY: run test bench native asan win32 clean
MAKEFLAGS += --no-print-directory

PREFIX = WINEPREFIX=$(CURDIR)/build/win32/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=

run:
	@scripts/install-deps.sh run
	@cmake --preset native -DSHOWFILE_TESTS=OFF >/dev/null
	@cmake --build --preset native --target showfile
	@cmake --preset win32 -DSHOWFILE_TESTS=OFF >/dev/null
	@cmake --build --preset win32
	@echo "--- sample/test.txt through build/native/showfile:"
	@cd sample && ../build/native/showfile; code=$$?; echo; echo "--- exit code $$code"
	@[ -d build/win32/wineprefix ] || $(PREFIX) wineboot --init >/dev/null 2>&1
	@echo "--- sample/test.txt through build/win32/showfile.exe under Wine:"
	@cd sample && $(PREFIX) wine ../build/win32/showfile.exe; code=$$?; echo; echo "--- exit code $$code"
	@$(PREFIX) wineserver --kill 2>/dev/null || true

test:
	@scripts/install-deps.sh test
	$(MAKE) native asan win32

# Benchmarks: see BENCHMARKS.md.
bench:
	@scripts/install-deps.sh bench
	cmake --preset native -DSHOWFILE_TESTS=OFF >/dev/null
	cmake --build --preset native --target showfile
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	build/bench/bench/text_length_bench
	bench/compare.sh build/native/showfile
	bench/plot.sh build/bench/bench/text_length_bench

native asan win32:
	cmake --preset $@ -DSHOWFILE_TESTS=ON
	cmake --build --preset $@
	ctest --preset $@

clean:
	rm -rf build
