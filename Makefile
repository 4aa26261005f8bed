# make run   - the main job, on the built-in simulated bench (release build)
# make test  - build with sanitizers and run every test, then the threaded tests under ThreadSanitizer
#              (what CI runs)
# make bench - build optimised and run every benchmark; JSON results in build/release/bench/

.PHONY: deps run test bench clean

deps:
	@scripts/install-deps

test: deps
	@scripts/check-format
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev
	@ctest --preset dev
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@ctest --preset tsan

run: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@scripts/run-main build/release

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@scripts/run-benchmarks build/release

clean:
	rm -rf build
