"""Runs every bench/bench_*.py in name order through its main()."""

import importlib.util
import pathlib


def main():
    for path in sorted(pathlib.Path(__file__).parent.glob("bench_*.py")):
        spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        print(f"== {path.stem}")
        module.main()


if __name__ == "__main__":
    main()
