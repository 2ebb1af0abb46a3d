import decimal

import pytest

from tarn._params import bind, placeholders
from tarn.exceptions import ProgrammingError


class Shouty(int):
    def __repr__(self):
        return "LOUD"

    __str__ = __repr__


@pytest.mark.parametrize("params, want", [
    (["O'Brien"], "select 'O''Brien'"),
    (["''"], "select ''''''"),
    ([None], "select NULL"),
    ([True], "select 1"),
    ([False], "select 0"),
    ([2**70], "select 1180591620717411303424"),
    ([-5], "select (-5)"),
    ([Shouty(7)], "select 7"),
    ([0.1], "select 0.1"),
    ([-2.5e-300], "select (-2.5e-300)"),
    ([decimal.Decimal("12345678901234567890.000000001")], "select 12345678901234567890.000000001"),
    ([decimal.Decimal("-1E+3")], "select (-1E+3)"),
    (["ü\n"], "select 'ü\n'"),
])
def test_literals(params, want):
    assert bind("select ?", params) == want


def test_negative_after_minus_stays_arithmetic():
    assert bind("select 1-?", [-1]) == "select 1-(-1)"


@pytest.mark.parametrize("sql, marks", [
    ("select ?, ?", 2),
    ("select '?', ?", 1),
    ("select 'it''s ?', ?", 1),
    ('select "a?b", ?', 1),
    ("select [x?], `y?`, ?", 1),
    ("select ? -- why?\n, ?", 2),
    ("select ? /* what? */ , ?", 2),
    ("select '?", 0),
    ("select ? /* open", 1),
    ("select -? - ?", 2),
])
def test_placeholders_skip_quotes_and_comments(sql, marks):
    assert len(placeholders(sql)) == marks


@pytest.mark.parametrize("sql, params", [
    ("select ?", []),
    ("select ?", [1, 2]),
    ("select 1", [1]),
    ("select ?", [b"bytes"]),
    ("select ?", [[1]]),
    ("select ?", [object()]),
    ("select ?", [float("nan")]),
    ("select ?", [float("inf")]),
    ("select ?", [decimal.Decimal("NaN")]),
    ("select ?", ["a\0b"]),
    ("select ?", "x"),
    ("select ?", {"a": 1}),
])
def test_refused(sql, params):
    with pytest.raises(ProgrammingError) as e:
        bind(sql, params)
    assert e.value.code is None


def test_no_params_leaves_sql_untouched():
    assert bind("select '?' -- ?", None) == "select '?' -- ?"
