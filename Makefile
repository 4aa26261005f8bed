# make run   - the main job, on the built-in simulated bench (release build)
# make test  - build with sanitizers and run every test, then the threaded tests under ThreadSanitizer and
#              each fuzz target for a few seconds on its corpus (what CI runs)
# make bench - build optimised and run every benchmark; JSON results in build/release/bench/
# make fuzz  - build the fuzz targets (clang) and run each for FUZZ_SECONDS (60) from its corpus in fuzz/corpus/

.PHONY: deps run test bench fuzz clean

FUZZ_SECONDS ?= 60

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
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/run-fuzzers build/fuzz 3

run: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@scripts/run-main build/release

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@scripts/run-benchmarks build/release

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
