# The front door: `make run` shows the sample, `make test` builds and tests everything.
.PHONY: run test native asan clean
MAKEFLAGS += --no-print-directory

run:
	@scripts/install-deps.sh run
	@cmake --preset native -DSHOWFILE_TESTS=OFF >/dev/null
	@cmake --build --preset native --target showfile
	@echo "--- sample/test.txt through build/native/showfile:"
	@cd sample && ../build/native/showfile; code=$$?; echo; echo "--- exit code $$code"

test:
	@scripts/install-deps.sh test
	$(MAKE) native asan

native asan:
	cmake --preset $@ -DSHOWFILE_TESTS=ON
	cmake --build --preset $@
	ctest --preset $@

clean:
	rm -rf build
