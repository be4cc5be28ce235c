"""The documentation stays true to the module: the generated API reference, the quoted
error messages and the printed output of every snippet are checked against the real thing."""

import contextlib
import difflib
import doctest
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
import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"


def load(path):
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def fenced(page, language):
    """The code blocks of one language on a page, list items' indentation removed."""
    blocks = re.findall(rf"^( *)```{language}\n(.*?)^\1```", page.read_text(encoding="utf-8"),
                        re.S | re.M)
    return [textwrap.dedent(block) for _, block in blocks]


def test_api_reference_matches_the_module():
    generator = load(ROOT / "scripts" / "api_reference.py")
    committed = (DOCS / "api.md").read_text(encoding="utf-8").splitlines()
    difference = list(difflib.unified_diff(committed, generator.render().splitlines(),
                                           "docs/api.md", "the module", lineterm=""))
    assert not difference, ("docs/api.md is out of date: run `make api-reference`\n"
                            + "\n".join(difference[:60]))


def public_objects(module, dotted):
    for name in module.__all__:
        obj, qualified = getattr(module, name), f"{dotted}.{name}"
        yield qualified
        if isinstance(obj, types.ModuleType):
            yield from public_objects(obj, qualified)
        elif isinstance(obj, type):
            yield from (f"{qualified}.{key}" for key in vars(obj) if not key.startswith("_"))


def test_api_reference_declares_every_object_for_the_index():
    # The site's general index and objects.inv (which other projects' Sphinx links against)
    # list what the page declares with Python-domain directives: every module, class,
    # function, method and attribute must have one.
    declared, module, cls = set(), "", ""
    for kind, name in re.findall(r"^:+\{py:(\w+)\} (\w[\w.]*)", (DOCS / "api.md").read_text(
            encoding="utf-8"), re.M):
        if kind == "module":
            module, cls = name, ""
            declared.add(name)
        elif kind in ("class", "function"):
            cls = f"{module}.{name}" if kind == "class" else ""
            declared.add(f"{module}.{name}")
        else:
            declared.add(f"{cls}.{name}")
    assert declared == {"hydrokit", *public_objects(hydrokit, "hydrokit")}


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
}


def as_this_interpreter_words_it(session):
    if sys.version_info[:2] == (3, 14):
        return session
    for quoted, own in CPYTHON_TEXTS.items():
        session = session.replace(quoted, own())
    return session


@pytest.mark.parametrize("page", sorted(path.name for path in DOCS.glob("*.md")
                                        if "```pycon" in path.read_text(encoding="utf-8")))
def test_interpreter_sessions_show_what_the_module_answers(page):
    session = as_this_interpreter_words_it("\n".join(fenced(DOCS / page, "pycon")))
    test = doctest.DocTestParser().get_doctest(session, {}, page, page, 0)
    assert test.examples
    runner = doctest.DocTestRunner()
    report = io.StringIO()
    runner.run(test, out=report.write)
    assert runner.failures == 0, report.getvalue()


def test_the_chain_prints_what_the_guide_shows():
    code, = fenced(DOCS / "chain.md", "python")
    shown, = fenced(DOCS / "chain.md", "text")
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        exec(compile(code, "chain.md", "exec"), {})
    assert printed.getvalue() == shown


@pytest.mark.parametrize("example", ["basin", "reservoir"])
def test_worked_study_output_is_what_the_example_prints(example):
    page = (DOCS / "studies.md").read_text(encoding="utf-8")
    shown = re.search(rf"<!-- output of examples/{example}.py -->\n```text\n(.*?)```",
                      page, re.S).group(1)
    result = subprocess.run([sys.executable, str(ROOT / "examples" / f"{example}.py")],
                            capture_output=True, text=True, timeout=120, check=True)
    # The example may print more (where its picture went); the lines shown come in order.
    printed = iter(result.stdout.splitlines())
    missing = [line for line in shown.splitlines() if line not in printed]
    assert not missing, f"docs/studies.md shows lines the example does not print: {missing}"


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


def imported_modules(code):
    return sorted(set(re.findall(r"^(?:from|import) (\w+)", code, re.M)))


@pytest.mark.parametrize("number", range(len(fenced(DOCS / "interop.md", "python"))))
def test_interop_scripts_run(number, tmp_path):
    # Each block is a whole script (process pools need a file the workers can import);
    # those needing what the tests do not install (pandas, scipy, dask) are skipped without it.
    code = fenced(DOCS / "interop.md", "python")[number]
    missing = [name for name in imported_modules(code) if importlib.util.find_spec(name) is None]
    if missing:
        pytest.skip(f"needs {', '.join(missing)}")
    script = tmp_path / f"interop_{number}.py"
    script.write_text(code, encoding="utf-8")
    run = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                         timeout=300, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
