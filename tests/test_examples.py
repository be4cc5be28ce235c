import pathlib
import re
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def run_example(name):
    result = subprocess.run([sys.executable, str(EXAMPLES / name)], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout


def number_after(label, text):
    match = re.search(re.escape(label) + r"\s+(-?[\d.]+)", text)
    assert match, f"{label!r} missing from:\n{text}"
    return float(match.group(1))


def test_basin_study_keeps_the_storm_volume():
    output = run_example("basin.py")
    gross = number_after("gross rainfall", output)
    excess = number_after("excess rainfall", output)
    loss = number_after("loss", output)
    # Every inch of rain is either excess or loss, and the Clark hydrograph carries all the
    # excess to the outlet.
    assert gross == pytest.approx(excess + loss, abs=0.011)
    runoff_inches = float(re.search(r"\(([\d.]+) in over the basin\)", output).group(1))
    assert runoff_inches == pytest.approx(excess, abs=0.011)
    assert 0.9 < number_after("KGE vs gauge", output) <= 1.0


def test_readme_examples_run_as_written(capsys):
    readme = (EXAMPLES.parent / "README.md").read_text(encoding="utf-8")
    blocks = re.findall(r"```python\n(.*?)```", readme, re.S)
    exec(compile("\n".join(blocks), "README.md", "exec"), {})
    first_line = capsys.readouterr().out.splitlines()[0]
    assert first_line == "0:15:00 24 1.95"


def test_reservoir_study_attenuates_the_flood():
    output = run_example("reservoir.py").replace(",", "")
    peak_in = number_after("peak inflow", output)
    peak_out = number_after("peak outflow", output)
    assert number_after("attenuation", output) == pytest.approx(
        100 * (1 - peak_out / peak_in), abs=0.06)
    # The gate never passes more than the safe channel capacity it is capped at.
    assert number_after("peak outlet works", output) <= 2500
    assert 905 < number_after("maximum pool elevation", output) < 950
