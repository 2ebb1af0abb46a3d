import decimal

import pytest

from tarn import _values as v


@pytest.mark.parametrize("kind, raw, dec, coltype, want", [
    (v.CELL_ABSENT, b"", False, None, None),
    (v.CELL_NULL, b"", False, None, None),
    (v.CELL_BOOL, b"true", False, None, True),
    (v.CELL_BOOL, b"false", False, None, False),
    (v.CELL_NUMBER, b"42", False, None, 42),
    (v.CELL_NUMBER, b"-1180591620717411303424", False, None, -2**70),
    (v.CELL_NUMBER, b"0.1", False, None, 0.1),
    (v.CELL_NUMBER, b"0.1", True, None, decimal.Decimal("0.1")),
    (v.CELL_NUMBER, b"1e400", True, None, decimal.Decimal("1e400")),
    (v.CELL_NUMBER, b"1E2", False, None, 100.0),
    (v.CELL_STRING, b"O'Brien", False, None, "O'Brien"),
    (v.CELL_STRING, b"a\0b", False, None, "a\0b"),
    (v.CELL_STRING, b"42", False, "INTEGER", "42"),
    (v.CELL_STRING, b'{"a":[1,2]}', False, None, '{"a":[1,2]}'),
    (v.CELL_STRING, b'{"a":[1,2]}', False, "json", {"a": [1, 2]}),
    (v.CELL_STRING, b"not json", False, "JSON", "not json"),
    (v.CELL_ARRAY, b"[1,2.5,null]", False, None, [1, 2.5, None]),
    (v.CELL_ARRAY, b"[2.5]", True, None, [decimal.Decimal("2.5")]),
    (v.CELL_OBJECT, b'{"n":123456789012345678901234567890}', False, None,
     {"n": 123456789012345678901234567890}),
])
def test_convert(kind, raw, dec, coltype, want):
    got = v.convert(kind, raw, dec, coltype)
    assert got == want
    assert type(got) is type(want)
