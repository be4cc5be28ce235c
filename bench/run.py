"""Runs every benchmark in this folder (bench_*.py), one after another."""

import importlib.util
import pathlib
import sys


def main():
    here = pathlib.Path(__file__).parent
    selected = sys.argv[1:]
    for path in sorted(here.glob("bench_*.py")):
        if selected and not any(word in path.stem for word in selected):
            continue
        print(f"== {path.stem}", flush=True)
        spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        module.main()
        print()


if __name__ == "__main__":
    main()
