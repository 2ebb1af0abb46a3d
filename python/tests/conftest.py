"""Starts the demo service of a build (TARN_BUILD, default build/) on a
free port with a data folder of its own, and points the package at that
build's library unless TARN_CLIENT_LIBRARY names one. A missing build is a
failure, never a skip."""

import os
import pathlib
import subprocess
import tempfile
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("TARN_BUILD", ROOT / "build"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
HEADER = ROOT / "client" / "include" / "tarn_client.h"

if "TARN_CLIENT_LIBRARY" not in os.environ:
    os.environ["TARN_CLIENT_LIBRARY"] = str(BUILD / "client" / "libtarn-client.so")


def pytest_report_header(config):
    import tarn

    return f"tarn package: {tarn.__file__}"


@pytest.fixture(scope="session")
def library_path():
    path = os.environ["TARN_CLIENT_LIBRARY"]
    if not os.path.exists(path):
        pytest.fail(f"no library at {path}: build the tarn-client target first")
    return path


@pytest.fixture(scope="session")
def service(library_path):
    exe = BUILD / "demo" / "tarn-demo-service"
    if not exe.exists():
        pytest.fail(f"no demo service at {exe}: build the tarn-demo-service target first")
    with tempfile.TemporaryDirectory() as data:
        proc = subprocess.Popen([str(exe), "--listen", "127.0.0.1:0", "--data", data],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            url = proc.stdout.readline().strip()
            if not url.startswith("http"):
                pytest.fail(f"the demo service did not start: {proc.stderr.read()}")
            yield url
        finally:
            proc.terminate()
            proc.wait(10)


@pytest.fixture
def conn(service):
    import tarn

    with tarn.connect(service, server="local", db="shop") as c:
        yield c


def wait_until(predicate, seconds=5.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return False
