# The two commands of the README are `make demo` and `make test`; every target installs what
# is missing first (scripts/setup.sh, quick when nothing is).
.PHONY: setup build test demo bench clean

setup:
	@bash scripts/setup.sh

# The release launcher: build/win32/bin/Vantorra.exe (named after the game).
build: setup
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32
	@echo "launcher: build/win32/bin/$$(sed -n 's/^LAUNCHER_GAME_NAME:STRING=//p' build/win32/CMakeCache.txt).exe"

test: setup
	@bash scripts/test.sh

demo: setup
	@bash scripts/demo.sh

clean:
	rm -rf build
