# Thin wrapper: provisioning lives in scripts/, the build in CMakeLists.txt and pyproject.toml.
# `make test PY=3.13` builds and tests in .venv-3.13; .venv is CPython 3.14's.
PY ?= 3.14
VENV = $(if $(filter 3.14,$(PY)),.venv,.venv-$(PY))
PYTHON = $(VENV)/bin/python
CXX ?= g++
# Another compiler (`make test CXX=clang++-19`) builds in a tree of its own: CMake keeps the
# compiler it found first in a build tree.
BUILD_TREE = $(if $(filter g++,$(CXX)),,--config-settings=build-dir=build/$(notdir $(CXX))-{wheel_tag})
CORE_TEST_FLAGS = -std=c++20 -O2 -ffp-contract=off -Wall -Wextra -Isrc

# `make test ARCH=aarch64` builds for 64-bit ARM Linux with the cross compiler and runs the
# core tests and the suite under qemu-user (scripts/aarch64.sh), then holds the cross build and
# its wheel to this machine's bits; SUBSET=ci runs the part of the suite that CI runs there.
ifeq ($(ARCH),aarch64)
CORE_CXX = aarch64-linux-gnu-g++
CORE_RUN = qemu-aarch64-static -L /usr/aarch64-linux-gnu
TEST_PYTHON = .venv-aarch64/bin/python
# The wheel's tests build on the host (make wheels checks the aarch64 wheels under emulation),
# and mypy reads the same stubs on every machine.
# CI's share: the argument rules; every computation is compared with this machine's bits after.
AARCH64_CI_TESTS = tests/test_argument_rules.py tests/test_validation.py
AARCH64_TESTS = tests --ignore=tests/test_typing.py
TEST_SELECTION = --hypothesis-profile=emulated -m "not wheel" \
    $(if $(filter ci,$(SUBSET)),$(AARCH64_CI_TESTS),$(AARCH64_TESTS))
else
CORE_CXX = $(CXX)
CORE_RUN =
TEST_PYTHON = $(PYTHON)
TEST_SELECTION = tests
endif

.PHONY: build test demo demo-packages pictures bench core-tests format sanitize tsan refleaks \
    wheel wheels native-wheels aarch64-wheels

# Only the examples draw pictures, spread work over processes and clusters and read spotpy's
# record and HYMOD; the library and its tests need none of these.
DEMO_PACKAGES = matplotlib scipy dask distributed spotpy
DEMO_STAMP = .venv/.demo-packages
EXAMPLES = first_study basin reservoir calibration ensemble long_record

build:
	@scripts/provision.sh --python $(PY) --compiler $(CXX) >/dev/null
	@echo "build: compiling and installing hydrokit into $(VENV) ($(CXX); about two minutes the first time)"
	@CXX=$(CXX) $(PYTHON) -m pip install --no-build-isolation --no-deps --quiet --force-reinstall \
	    $(BUILD_TREE) .
ifeq ($(ARCH),aarch64)
	@echo "build: installing hydrokit into .venv-aarch64 (aarch64-linux-gnu-g++)"
	@scripts/aarch64.sh build >/dev/null
endif

# A wheel for users without a compiler: built from the tree and repaired by auditwheel into
# dist/, with the oldest manylinux tag the module's symbol versions allow.
wheel: build
	@scripts/wheel.sh dist >/dev/null

# One wheel per interpreter and architecture, each checked in a fresh venv of its interpreter
# against .venv's results; another architecture adds its target to WHEEL_TARGETS. The
# free-threaded interpreter is built here for this machine only.
WHEEL_VERSIONS = 3.13 3.14 3.15
WHEEL_TARGETS = native-wheels aarch64-wheels
wheels: $(WHEEL_TARGETS)

native-wheels: build
	@scripts/wheels.sh $(WHEEL_VERSIONS) 3.14t >/dev/null

aarch64-wheels: build
	@ARCH=aarch64 scripts/wheels.sh $(WHEEL_VERSIONS) >/dev/null

# The numerical core is plain C++ and is checked on its own, without the interpreter. Its
# binary, one per compiler, is rebuilt only when a source changed: CI runs it on every suite.
CORE_TESTS = build/core_tests-$(notdir $(CORE_CXX))
CORE_SOURCES = $(wildcard tests/core/*.cpp) src/buffer_pool.cpp \
    $(filter-out %_py.cpp,$(wildcard src/*/*.cpp src/*/*/*.cpp))
$(CORE_TESTS): $(CORE_SOURCES) $(wildcard tests/core/*.hpp src/*.hpp src/*/*.hpp src/*/*/*.hpp)
	@mkdir -p build
	@echo "core-tests: compiling the C++ tests of the core ($(CORE_CXX))"
	@$(CORE_CXX) $(CORE_TEST_FLAGS) $(CORE_SOURCES) -o $@

core-tests: $(CORE_TESTS)
	@$(CORE_RUN) $(CORE_TESTS)

test: build core-tests
	@$(TEST_PYTHON) -m pytest -q $(TEST_SELECTION)
ifeq ($(ARCH),aarch64)
	@$(PYTHON) -m pytest -q tests/test_wheel.py -k aarch64
endif

# The whole suite against an AddressSanitizer + UndefinedBehaviorSanitizer build.
sanitize:
	@scripts/sanitize.sh

# The thread tests, the mutation stress among them, against a ThreadSanitizer build on a
# free-threaded interpreter built with ThreadSanitizer.
tsan:
	@scripts/tsan.sh

# Reference and memory leak loops over every entry point, on CPython's debug build.
refleaks:
	@scripts/refleaks.sh

# The stamp lives inside .venv, so a venv rebuilt by provisioning loses it and reinstalls;
# a package removed by hand is noticed by the look-up, which imports nothing.
demo-packages: build
	@if [ "$$(cat $(DEMO_STAMP) 2>/dev/null)" != "$(DEMO_PACKAGES)" ] || \
	    ! $(PYTHON) -c 'import importlib.util as u, sys; \
	        sys.exit(any(u.find_spec(m) is None for m in sys.argv[1:]))' $(DEMO_PACKAGES); then \
	    echo "demo: installing $(DEMO_PACKAGES) into .venv"; \
	    $(PYTHON) -m pip install -qq $(DEMO_PACKAGES) && \
	    echo "$(DEMO_PACKAGES)" >$(DEMO_STAMP); \
	fi

demo: demo-packages
	@for example in $(EXAMPLES); do \
	    echo "== examples/$$example.py"; \
	    $(PYTHON) examples/$$example.py || exit 1; \
	done
	@echo "== examples/continuous.py --peer hymod"
	@$(PYTHON) examples/continuous.py --peer hymod

# The committed copies of the examples' pictures, shown by the README and the docs. The
# ensemble's and the long record's pictures are the same whichever mode computed them, so one
# core draws them.
pictures: demo-packages
	@$(PYTHON) examples/first_study.py --out docs/images >/dev/null
	@$(PYTHON) examples/basin.py --out docs/images >/dev/null
	@$(PYTHON) examples/reservoir.py --out docs/images >/dev/null
	@$(PYTHON) examples/calibration.py --out docs/images >/dev/null
	@$(PYTHON) examples/ensemble.py --modes serial --out docs/images >/dev/null
	@$(PYTHON) examples/long_record.py --modes serial --out docs/images >/dev/null
	@$(PYTHON) examples/continuous.py --peer hymod --out docs/images >/dev/null
	@echo "pictures: written to docs/images/"

# Benchmark-only packages (numba, scipy, the metric packages) go into .venv here, never for the
# tests. The benchmarks run with the allocator settings a user's script has: page faults that a
# contender pays there, users pay too.
# GCC's build for 3.14 is the run of record; another interpreter or compiler writes its tables
# beside the build trees.
# Short calls on two threads are also timed under a free-threaded 3.14t and a 3.14 with the lock,
# both built from the same source archive (bench/free_threading.py): their venvs get this tree's
# build first, from the cached interpreters after the first time.
BENCH_RESULTS = $(if $(filter 3.14,$(PY)),$(if $(filter g++,$(CXX)),bench/RESULTS.md),)
FREE_THREADING_FLAVOURS = 3.14t 3.14-gil
bench: build
	@for flavour in $(FREE_THREADING_FLAVOURS); do \
	    $(MAKE) --no-print-directory build PY=$$flavour CXX=$(CXX) || exit 1; \
	done
	@PYTHON=$(PYTHON) scripts/provision_bench.sh
	@CXX=$(CXX) FREE_THREADING_PYTHONS="$(foreach f,$(FREE_THREADING_FLAVOURS),.venv-$(f)/bin/python)" \
	    $(PYTHON) bench/run.py $(or $(BENCH_RESULTS),build/bench-$(PY)-$(notdir $(CXX)).md)

# Debian installs clang-format under its version's name only.
CLANG_FORMAT ?= $(firstword $(foreach tool,clang-format clang-format-19,$(shell command -v $(tool))) clang-format)
format:
	@$(CLANG_FORMAT) -i $$(find src tests/core -name '*.cpp' -o -name '*.hpp')

# The documentation site: Sphinx renders the Markdown pages of docs/ into docs/_build/html,
# which opens from disk; -E reads every page afresh, so what other targets wrote since the
# last build (pictures, benchmark tables) shows up. Its packages are for the docs only; the
# tests never need them.
.PHONY: docs docs-packages api-reference
DOCS_PACKAGES = sphinx==9.2.0 myst-parser==5.2.0
DOCS_STAMP = .venv/.docs-packages

docs-packages: build
	@if [ "$$(cat $(DOCS_STAMP) 2>/dev/null)" != "$(DOCS_PACKAGES)" ]; then \
	    echo "docs: installing $(DOCS_PACKAGES) into .venv"; \
	    $(PYTHON) -m pip install --quiet $(DOCS_PACKAGES) && \
	    echo "$(DOCS_PACKAGES)" >$(DOCS_STAMP); \
	fi

# docs/api.md is committed; `make test` fails when it no longer matches the module.
api-reference: build
	@$(PYTHON) scripts/api_reference.py

docs: docs-packages api-reference pictures
	@$(PYTHON) -m sphinx -E -W --keep-going -q -b html docs docs/_build/html
	@echo "docs: open docs/_build/html/index.html"
