"""What the examples share: command-line helpers, where a PNG goes and whether it can be drawn.

Every example writes its picture next to itself unless `--out DIR` names another folder
(`make pictures` writes the committed copies into docs/images/). matplotlib is a demo
dependency: without it the examples still compute and print, and say why there is no plot.
"""

import argparse
import io
import pathlib
import sys


def positive_int(text):
    """A command-line count: an integer of at least 1."""
    value = int(text)
    if value < 1:
        raise ValueError(text)
    return value


def chosen_modes(text, known):
    """The modes named in `--modes` (comma-separated), in order; exits naming any unknown one."""
    modes = [mode for mode in text.split(",") if mode]
    unknown = sorted(set(modes) - set(known))
    if unknown:
        sys.exit(f"unknown mode {', '.join(unknown)}: choose from {', '.join(known)}")
    return modes


def parse_arguments(description, add_options=None):
    """The example's command line: `--out DIR` plus whatever `add_options(parser)` adds."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--out", type=pathlib.Path, metavar="DIR",
                        help="folder for the PNG (default: next to the example)")
    if add_options:
        add_options(parser)
    return parser.parse_args()


def pyplot():
    """matplotlib.pyplot on the file-only Agg backend, or None when it is not installed."""
    try:
        import matplotlib
    except ImportError:
        print("no picture: matplotlib is not installed (`make demo` installs it)")
        return None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    plt.rcParams.update({"axes.grid": True, "grid.alpha": 0.3, "legend.framealpha": 0.9})
    return plt


def save(figure, name, out_dir):
    """Writes `figure` as `name` into `out_dir`, or next to the examples when it is None."""
    folder = out_dir if out_dir is not None else pathlib.Path(__file__).resolve().parent
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / name
    # A line plot needs few colours: a 128-colour palette looks the same and makes the
    # file (committed under docs/images/) about a third of the size.
    from PIL import Image

    rendered = io.BytesIO()
    figure.savefig(rendered, format="png", dpi=110, bbox_inches="tight")
    with Image.open(rendered) as image:
        palette = image.convert("RGB").quantize(colors=128, method=Image.Quantize.MEDIANCUT)
    palette.save(target, optimize=True)
    print(f"plot written to {target}")
