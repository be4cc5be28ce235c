"""The documentation stays true to the module: the generated API reference, the quoted
error messages and the printed output of every snippet are checked against the real thing."""

import difflib
import doctest
import importlib.metadata
import importlib.util
import io
import pathlib
import pickle
import re
import subprocess
import sys
import textwrap
import types

import hydrokit
import hydrokit_pandas
import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"


def load(path):
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def fenced(page):
    """(language, code) of every fenced block on a page, list items' indentation removed."""
    blocks = re.findall(r"^( *)```(\w+)\n(.*?)^\1```", page.read_text(encoding="utf-8"),
                        re.S | re.M)
    return [(language, textwrap.dedent(code)) for _, language, code in blocks]


def code_blocks():
    """Every Python block of the README and the guide with what the page shows it print: a
    page's interpreter sessions as one doctest, and each script with the text block right
    after it (a script the page shows no output for must print nothing)."""
    for page in [ROOT / "README.md", *sorted(DOCS.glob("*.md"))]:
        blocks = fenced(page)
        sessions = [code for language, code in blocks if language == "pycon"]
        if sessions:
            yield pytest.param("pycon", "\n".join(sessions), None, id=f"{page.name}-sessions")
        scripts = [(code, blocks[number + 1][1] if blocks[number + 1:number + 2] and
                    blocks[number + 1][0] == "text" else "")
                   for number, (language, code) in enumerate(blocks) if language == "python"]
        for number, (code, shown) in enumerate(scripts):
            yield pytest.param("python", code, shown, id=f"{page.name}-script{number}")


@pytest.mark.parametrize("page", ["api.md", "pandas.md"])
def test_api_reference_matches_the_module(page):
    generator = load(ROOT / "scripts" / "api_reference.py")
    committed = (DOCS / page).read_text(encoding="utf-8").splitlines()
    difference = list(difflib.unified_diff(committed, generator.pages()[DOCS / page].splitlines(),
                                           f"docs/{page}", "the module", lineterm=""))
    assert not difference, (f"docs/{page} is out of date: run `make api-reference`\n"
                            + "\n".join(difference[:60]))


def public_objects(module, dotted):
    for name in module.__all__:
        obj, qualified = getattr(module, name), f"{dotted}.{name}"
        yield qualified
        if isinstance(obj, types.ModuleType):
            yield from public_objects(obj, qualified)
        elif isinstance(obj, type):
            yield from (f"{qualified}.{key}" for key in vars(obj) if not key.startswith("_"))


@pytest.mark.parametrize("page, module", [("api.md", hydrokit), ("pandas.md", hydrokit_pandas)])
def test_api_reference_declares_every_object_for_the_index(page, module):
    # The site's general index and objects.inv (which other projects' Sphinx links against)
    # list what the page declares with Python-domain directives: every module, class,
    # function, method and attribute must have one.
    declared, current, cls = set(), "", ""
    for kind, name in re.findall(r"^:+\{py:(\w+)\} (\w[\w.]*)", (DOCS / page).read_text(
            encoding="utf-8"), re.M):
        if kind == "module":
            current, cls = name, ""
            declared.add(name)
        elif kind in ("class", "function", "data"):
            cls = f"{current}.{name}" if kind == "class" else ""
            declared.add(f"{current}.{name}")
        else:
            declared.add(f"{cls}.{name}")
    assert declared == {module.__name__, *public_objects(module, module.__name__)}


def pickling_error(obj):
    try:
        pickle.dumps(obj)
    except pickle.PicklingError as error:
        return str(error)
    raise AssertionError(f"{obj!r} was pickled")


# The pages quote CPython 3.14, the default interpreter, where the text is CPython's own: other
# versions word it differently and are held to their own words.
CPYTHON_TEXTS = {
    "Can't pickle <built-in function calculate_kge>: No module named 'metrics'":
        lambda: pickling_error(hydrokit.metrics.calculate_kge),
    "Can't pickle <built-in function run_muskingum_routing>: No module named 'reach'":
        lambda: pickling_error(hydrokit.reach.run_muskingum_routing),
}


def as_this_interpreter_words_it(session):
    if sys.version_info[:2] == (3, 14):
        return session
    for quoted, own in CPYTHON_TEXTS.items():
        session = session.replace(quoted, own())
    return session


@pytest.mark.parametrize("page, example", [(DOCS / "studies.md", "basin"),
                                           (DOCS / "studies.md", "reservoir"),
                                           (DOCS / "studies.md", "first_study"),
                                           (ROOT / "README.md", "first_study")])
def test_worked_study_output_is_what_the_example_prints(page, example):
    text = page.read_text(encoding="utf-8")
    shown = re.search(rf"<!-- output of examples/{example}.py -->\n```text\n(.*?)```",
                      text, re.S).group(1)
    result = subprocess.run([sys.executable, str(ROOT / "examples" / f"{example}.py")],
                            capture_output=True, text=True, timeout=120, check=True)
    # The example may print more (where its picture went); the lines shown come in order.
    printed = iter(result.stdout.splitlines())
    missing = [line for line in shown.splitlines() if line not in printed]
    assert not missing, f"{page.name} shows lines the example does not print: {missing}"


def test_citation_is_for_this_version():
    cited = re.search(r"^version: (\S+)$", (ROOT / "CITATION.cff").read_text(encoding="utf-8"),
                      re.M).group(1)
    assert cited == importlib.metadata.version("hydrokit")
    assert f"version {cited}." in (ROOT / "README.md").read_text(encoding="utf-8")


@pytest.mark.parametrize("present", [True, False])
def test_pages_and_results_written_elsewhere_are_optional(tmp_path, present):
    conf = load(DOCS / "conf.py")
    conf.HERE = tmp_path / "docs"
    source = ("See [the notes](reliability.md).\n\nconventions\nreliability\napi\n\n"
              "[The tables](../bench/RESULTS.md):\n\n"
              "```{include} ../bench/RESULTS.md\n:heading-offset: 1\n```\n")
    if present:
        for written in ("docs/reliability.md", "bench/RESULTS.md"):
            (tmp_path / written).parent.mkdir(parents=True, exist_ok=True)
            (tmp_path / written).write_text("")
    text = [source]
    conf._optional_content(None, conf.root_doc, text)
    assert text[0] == (source.replace("(../bench", "(path:../bench") if present else (
        "See the notes.\n\nconventions\napi\n\n"
        "The tables:\n\n*(`bench/RESULTS.md` is not written yet.)*\n"))


@pytest.mark.parametrize("language, code, shown", list(code_blocks()))
def test_code_blocks_print_what_the_page_shows(language, code, shown, tmp_path):
    if language == "pycon":
        test = doctest.DocTestParser().get_doctest(as_this_interpreter_words_it(code), {},
                                                   "sessions", None, 0)
        runner = doctest.DocTestRunner()
        report = io.StringIO()
        runner.run(test, out=report.write)
        assert runner.failures == 0, report.getvalue()
        return
    # Each script runs as a file of its own: process pools need one their workers import.
    script = tmp_path / "block.py"
    script.write_text(code, encoding="utf-8")
    run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                         timeout=300, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    # "..." in the shown output stands for what varies from run to run (a time, a speed-up).
    shown = as_this_interpreter_words_it(shown)
    assert doctest.OutputChecker().check_output(shown, run.stdout, doctest.ELLIPSIS), (
        f"the page shows:\n{shown}\nthe block prints:\n{run.stdout}")
