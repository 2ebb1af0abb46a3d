"""Every function the package binds exists in the built library and takes
the arguments tarn_client.h declares."""

import ctypes
import re

import pytest

from conftest import HEADER
from tarn import _native

# C types of the header, as the package declares them.
C_TYPES = {
    "tarn_session *": ctypes.c_void_p,
    "const tarn_session *": ctypes.c_void_p,
    "tarn_result *": ctypes.c_void_p,
    "const tarn_result *": ctypes.c_void_p,
    "const char *": ctypes.c_char_p,
    "int": ctypes.c_int,
    "int32_t": ctypes.c_int32,
    "size_t *": ctypes.POINTER(ctypes.c_size_t),
    "void": None,
}


def declared():
    text = re.sub(r"/\*.*?\*/", " ", HEADER.read_text(), flags=re.S)
    out = {}
    for ret, name, args in re.findall(r"TARN_API\s+([^;(]*?)\s*\b(tarn_\w+)\s*\(([^)]*)\)\s*;",
                                      text):
        params = [] if args.strip() in ("", "void") else [a.strip() for a in args.split(",")]
        types = []
        for p in params:
            # Drop the parameter's name, keep its type ("const char *url").
            m = re.fullmatch(r"(.*?[\s*])\w+", " ".join(p.split()))
            types.append(" ".join(m.group(1).replace("*", " *").split()))
        ret = " ".join(ret.replace("*", " *").split())
        out[name] = (ret, types)
    return out


HEADER_FUNCTIONS = declared()


def test_header_parses():
    assert len(HEADER_FUNCTIONS) > 60
    assert HEADER_FUNCTIONS["tarn_session_query"][1] == [
        "tarn_session *", "const char *", "const char *", "const char *", "int", "int",
        "const char *"]


@pytest.mark.parametrize("name", sorted(_native.PROTOTYPES))
def test_binding_matches_header_and_library(library_path, name):
    lib = ctypes.CDLL(library_path)
    assert hasattr(lib, name), f"{library_path} has no {name}"
    assert name in HEADER_FUNCTIONS, f"tarn_client.h declares no {name}"
    ret, args = HEADER_FUNCTIONS[name]
    restype, argtypes = _native.PROTOTYPES[name]
    assert len(argtypes) == len(args)
    assert argtypes == [C_TYPES[a] for a in args]
    # Texts handed out by pointer are read with their length, or copied.
    want_ret = C_TYPES.get(ret, ctypes.c_void_p if ret.endswith("*") else None)
    assert restype in (want_ret, ctypes.c_void_p) if ret.endswith("*") else restype is want_ret
