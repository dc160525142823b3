# Sphinx configuration of the project's documentation (scripts/docs builds it
# into build/docs/html/). The source folder is the repository's root, so that
# the handbook's links to the README and to the benchmark results resolve as
# they do when the Markdown files are read in place; only the files listed
# in include_patterns are part of the site. The C++ reference is Doxygen's
# (docs/api/Doxyfile), placed beside the pages in cpp/.
import os

from sphinx.util import logging

_logger = logging.getLogger(__name__)

project = "btreeimg"
author = "the btreeimg developers"
copyright = "the btreeimg developers"

# scripts/docs passes the version from CMakeLists.txt.
release = version = os.environ.get("BTREEIMG_VERSION", "")

extensions = [
    "myst_parser",
    "sphinx.ext.autodoc",
]

root_doc = "docs/index"
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
include_patterns = [
    "README.md",
    "docs/*.md",
    "docs/api/*.rst",
    "bench/RESULTS.md",
    "bench/NOTES.md",
    "bench/web/RESULTS.md",
    "bench/web/NOTES.md",
]
exclude_patterns = ["build", "**/node_modules"]

# Headings get anchors down to the third level, so that pages can link to a
# section (`format.md#header-block`), and such links are checked.
myst_heading_anchors = 3
myst_enable_extensions = ["deflist"]
# The benchmark pages are written by the benchmark scripts, whose headings
# start where their tables need them.
suppress_warnings = ["myst.header"]

# The Python reference documents the package that scripts/docs built (it
# puts its folder first on sys.path); its signatures use the package's types.
# Every reference between the pages and into the package must resolve
# (scripts/docs runs Sphinx with -n); types of the standard library, numpy
# and Pillow are named in signatures without a reference of their own here.
nitpick_ignore_regex = [("py:class", r"(os|io|typing|numpy|PIL)\..*")]
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_default_options = {"members": True, "undoc-members": True,
                           "show-inheritance": True}

html_theme = "alabaster"
html_title = "btreeimg"
html_show_sourcelink = False
html_copy_source = False
html_theme_options = {"nosidebar": False, "show_powered_by": False}
# The redirection from the site's root to the handbook's front page.
html_extra_path = ["api/site"]

# Pages that other work adds to docs/ as it lands: the desktop page lists
# them in its contents, and leaves out those that are not there yet.
OPTIONAL_PAGES = {"docs/desktop": ["qt", "gimp"]}


def _leave_out_missing_pages(app, docname, source):
    for page in OPTIONAL_PAGES.get(docname, []):
        if not os.path.exists(os.path.join(app.srcdir, "docs", page + ".md")):
            source[0] = "\n".join(line for line in source[0].split("\n")
                                  if line.strip() != page)


def _require_docstrings(app, what, name, obj, options, lines):
    """Every public function, class, method and attribute of the package
    has its docstring: one without fails the build, as an undocumented C++
    member does."""
    if not any(line.strip() for line in lines) and what != "module":
        _logger.warning("%s %s has no docstring", what, name)


def setup(app):
    app.connect("source-read", _leave_out_missing_pages)
    app.connect("autodoc-process-docstring", _require_docstrings)
