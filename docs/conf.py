"""Sphinx configuration: the Markdown pages of docs/ rendered as a static site.

The site lands in docs/_build/html and opens from disk: every link is relative, and the
search page loads its index as a script, which browsers allow from file:// too.
"""

import json
import pathlib
import re

HERE = pathlib.Path(__file__).resolve().parent

project = "hydrokit"
author = "the hydrokit developers"
copyright = "the hydrokit developers"

extensions = ["myst_parser"]
source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build"]
myst_heading_anchors = 3
# The API reference nests Python-domain directives in colon fences (scripts/api_reference.py).
myst_enable_extensions = ["colon_fence"]
# Long signatures get one parameter a line.
python_maximum_signature_line_length = 88
toc_object_entries_show_parents = "hide"

html_theme = "alabaster"
html_title = "hydrokit"
html_show_sourcelink = False
html_copy_source = False
html_show_sphinx = False
html_theme_options = {
    "description": "Hydrologic computations for Python",
    "fixed_sidebar": True,
    "page_width": "1120px",
}

# Pages and files that other work supplies: the site builds without them, and shows them
# as soon as they exist.
OPTIONAL_PAGES = ["reliability"]
INCLUDE = re.compile(r"```\{include\} (\S+)\n(?::[^\n]*\n)*```")
# A link to a file of the repository outside docs/ (`[tables](../bench/RESULTS.md)`).
OUTSIDE_LINK = re.compile(r"(?<!!)\[([^\]]*)\]\((\.\./[^)\s#]+)\)")


def _include(match):
    path = HERE / match.group(1)
    if path.is_file():
        return match.group(0)
    return f"*(`{path.resolve().relative_to(HERE.parent)}` is not written yet.)*"


def _outside_link(match):
    # The site carries a copy of the file, so the link works from disk too; a file not
    # written yet leaves the link's text.
    text, target = match.groups()
    return f"[{text}](path:{target})" if (HERE / target).is_file() else text


def _optional_content(app, docname, source):
    text = INCLUDE.sub(_include, source[0])
    text = OUTSIDE_LINK.sub(_outside_link, text)
    for page in OPTIONAL_PAGES:
        if not (HERE / f"{page}.md").is_file():
            text = re.sub(rf"\[([^\]]*)\]\({page}\.md\)", r"\1", text)
            if docname == root_doc:
                text = re.sub(rf"^{page}\n", "", text, flags=re.M)
    source[0] = text


# The search page shows an excerpt of each page it finds, which it fetches from the page
# itself; a browser refuses to fetch from disk. The search page therefore carries the pages'
# bodies, and a file:// request for one is answered from them.
SEARCH_SHIM = """const PAGE_BODIES = %s;
const fetchFromServer = window.fetch.bind(window);
window.fetch = (url, options) => {
  const page = String(url).slice(document.documentElement.dataset.content_root.length);
  if (window.location.protocol === "file:" && Object.hasOwn(PAGE_BODIES, page))
    return Promise.resolve(new Response(`<div role="main">${PAGE_BODIES[page]}</div>`));
  return fetchFromServer(url, options);
};
"""
_page_bodies = {}


def _search_excerpts(app, pagename, templatename, context, doctree):
    if doctree is not None:
        _page_bodies[pagename + app.builder.out_suffix] = context["body"]
    elif pagename == "search":
        static = pathlib.Path(app.outdir) / "_static"
        static.mkdir(parents=True, exist_ok=True)
        (static / "page_bodies.js").write_text(SEARCH_SHIM % json.dumps(_page_bodies),
                                               encoding="utf-8")
        app.add_js_file("page_bodies.js")


def setup(app):
    app.connect("source-read", _optional_content)
    app.connect("html-page-context", _search_excerpts)
