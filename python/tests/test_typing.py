"""The package's types: mypy --strict accepts the Python page's examples and
the package itself, and the stubs of the extension say what it holds."""

import os
import subprocess
import sys

import btreeimg
from conftest import HERE


def run(*args):
    """Runs a mypy module with this interpreter, its cache beside the test
    run; fails with mypy's report."""
    done = subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True,
                          cwd=os.getcwd())
    assert done.returncode == 0, done.stdout + done.stderr


def test_readme_examples_and_the_package_pass_strict_type_checks():
    run("mypy", "--strict", "--cache-dir", ".mypy_cache",
        str(HERE.parent / "examples" / "readme.py"), os.path.dirname(btreeimg.__file__))


def test_the_stubs_are_true_to_the_module():
    assert os.path.exists(os.path.join(os.path.dirname(btreeimg.__file__), "py.typed"))
    run("mypy.stubtest", "--mypy-config-file", os.devnull,
        "--allowlist", str(HERE / "stubtest-allowlist.txt"), "btreeimg")
