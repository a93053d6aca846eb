# The two commands of the README are `make demo` and `make test`; every target installs what
# is missing first (scripts/setup.sh, quick when nothing is).
.PHONY: setup build channel test demo bench fuzz clean

setup:
	@bash scripts/setup.sh

# The release launcher: build/win32/bin/Vantorra.exe (named after the game).
build: setup
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32
	@echo "launcher: build/win32/bin/$$(sed -n 's/^LAUNCHER_GAME_NAME:STRING=//p' build/win32/CMakeCache.txt).exe"

# The studio's channel tool, natively: build/native/studio/channel, which scripts/channel runs
# (and builds itself when needed).
channel: setup
	@cmake --preset native >/dev/null
	@cmake --build --preset native --target channel
	@echo "channel tool: build/native/studio/channel (run it as scripts/channel)"

test: setup
	@bash scripts/test.sh

demo: setup
	@bash scripts/demo.sh

# Speed and memory of the package transfer and walk next to curl and unzip, natively and (the
# transfer through the real launcher window) under Wine next to curl.exe, from the channel
# server and from nginx (natively also next to a bare receive loop); under Wine also the
# launcher's peak working set over a 1 GiB install (next to the native pipeline's) and its time
# to the splash picture (next to a minimal window program); not a test.
bench: setup
	@cmake --preset native >/dev/null
	@cmake --build --preset native
	@for b in build/native/bench/*_bench; do echo "== $$b"; "$$b" || exit 1; done
	@variant=$$(/usr/bin/python3 scripts/winerun.py variant 2>/dev/null) && \
	  cmake --preset "$$variant" >/dev/null && cmake --build --preset "$$variant" && \
	  echo "== bench/wine_download_bench.py" && /usr/bin/python3 bench/wine_download_bench.py && \
	  echo "== bench/wine_nginx_bench.py" && /usr/bin/python3 bench/wine_nginx_bench.py && \
	  echo "== bench/wine_memory_bench.py" && /usr/bin/python3 bench/wine_memory_bench.py && \
	  echo "== bench/wine_startup_bench.py" && /usr/bin/python3 bench/wine_startup_bench.py

# libFuzzer targets of the portable core under AddressSanitizer and UBSan, each run for
# FUZZ_SECONDS (60); not part of `make test`.
FUZZ_SECONDS ?= 60
fuzz: setup
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh

clean:
	rm -rf build
