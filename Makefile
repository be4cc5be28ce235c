# Thin wrapper: provisioning lives in scripts/, the build in CMakeLists.txt and pyproject.toml.
PYTHON = .venv/bin/python
CXX ?= g++
CORE_TEST_FLAGS = -std=c++20 -O2 -ffp-contract=off -Wall -Wextra -Isrc

.PHONY: build test demo bench core-tests format sanitize refleaks

build:
	@scripts/provision.sh >/dev/null
	@echo "build: installing hydrokit into .venv"
	@$(PYTHON) -m pip install --no-build-isolation --no-deps --quiet --force-reinstall .

# The numerical core is plain C++ and is checked on its own, without the interpreter.
core-tests:
	@mkdir -p build
	@$(CXX) $(CORE_TEST_FLAGS) tests/core/*.cpp \
	    $$(find src -mindepth 2 -name '*.cpp' ! -name '*_py.cpp') \
	    -o build/core_tests
	@build/core_tests

test: build core-tests
	@$(PYTHON) -m pytest -q tests

# The whole suite against an AddressSanitizer + UndefinedBehaviorSanitizer build.
sanitize:
	@scripts/sanitize.sh

# Reference and memory leak loops over every entry point, on CPython's debug build.
refleaks:
	@scripts/refleaks.sh

demo: build
	@$(PYTHON) examples/basin.py
	@$(PYTHON) examples/reservoir.py

bench: build
	@$(PYTHON) bench/run.py

format:
	@clang-format -i $$(find src tests/core -name '*.cpp' -o -name '*.hpp')
