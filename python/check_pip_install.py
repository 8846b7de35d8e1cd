"""Installs the checkout as a user would, with pip and no network, into a
new virtual environment that sees the system's packages (numpy), makes a
wheel the same way, and runs the README's Python example and the package's
tests against the installed package, outside the source tree.

Usage: check_pip_install.py SOURCE_DIR WORK_DIR [CMAKE_BUILD_DIR]

With CMAKE_BUILD_DIR, pip takes the compiled core from that build tree of
the project (configured for this interpreter) instead of building its own.
"""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

SKIPPED = {".git", ".bench", ".fuzz", "build-pip", "__pycache__"}


def skip(directory, names):
    """Build trees and what the build leaves behind stay out of the copy."""
    return [name for name in names
            if name in SKIPPED or name.endswith(".egg-info")
            or (Path(directory, name) / "CMakeCache.txt").exists()]


def run(*command, cwd=None, env=None, capture=True):
    print("+", " ".join(str(part) for part in command), flush=True)
    return subprocess.run([str(part) for part in command], cwd=cwd, env=env, check=True,
                          stdout=subprocess.PIPE if capture else None, text=True).stdout


def main():
    source, work = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    if len(sys.argv) > 3:
        os.environ["VQPEEK_CMAKE_BUILD_DIR"] = str(Path(sys.argv[3]).resolve())
    shutil.rmtree(work, ignore_errors=True)
    # A copy, so that the build leaves nothing in the checkout.
    checkout = work / "checkout"
    shutil.copytree(source, checkout, ignore=skip, symlinks=True)
    venv = work / "venv"
    run(sys.executable, "-m", "venv", "--system-site-packages", venv)
    python = venv / "bin" / "python"
    os.environ["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    pip = [python, "-m", "pip", "--no-cache-dir"]
    run(*pip, "wheel", "--no-build-isolation", "--no-index", "--no-deps", "-w", work / "wheels",
        checkout)
    wheels = list((work / "wheels").glob("vqpeek-*.whl"))
    assert len(wheels) == 1, wheels
    run(*pip, "install", "--no-build-isolation", "--no-index", checkout)

    readme = (source / "README.md").read_text(encoding="utf-8")
    python_part = readme[readme.index("## Python"):]
    example = re.search(r"```python\n(.*?)```", python_part, re.S).group(1)
    expected = re.search(r"prints `([^`]*)`", python_part).group(1)
    run_dir = work / "run"
    shutil.copytree(source / "examples", run_dir / "examples")
    (run_dir / "example.py").write_text(
        "import vqpeek\n"
        f"assert vqpeek.__file__.startswith({str(venv)!r}), vqpeek.__file__\n" + example)
    printed = run(python, "example.py", cwd=run_dir)
    assert printed.strip() == expected, (printed, expected)
    version = run(python, "-c", "import vqpeek; print(vqpeek.__version__)", cwd=run_dir)
    assert wheels[0].name.startswith(f"vqpeek-{version.strip()}-"), (wheels, version)
    env = dict(os.environ, VQPEEK_SOURCE_DIR=str(source), PYTHONDONTWRITEBYTECODE="1")
    run(python, "-m", "pytest", "-q", "-p", "no:cacheprovider", source / "python" / "tests",
        cwd=run_dir, env=env, capture=False)
    print("pip install, pip wheel, the README's example and the tests: passed")


if __name__ == "__main__":
    main()
