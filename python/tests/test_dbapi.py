import decimal
import random
import threading
import time

import pytest

import tarn
from tarn import exceptions as E
from conftest import wait_until

LONG = "with recursive n(i) as (select 1 union all select i+1 from n) select count(*) from n"


def test_module_globals():
    assert (tarn.apilevel, tarn.threadsafety, tarn.paramstyle) == ("2.0", 1, "qmark")
    assert tarn.library_version().startswith("tarn-client ")


def one(conn, sql, params=None, decimal_=False):
    cur = conn.cursor(decimal=decimal_)
    cur.execute(sql, params)
    return cur.fetchone()


@pytest.mark.parametrize("sql, params, want", [
    ("select ? as v", ["O'Brien"], ("O'Brien",)),
    ("select ? as v, ? is null", [None, None], (None, 1)),
    ("select ?, typeof(?)", [2**70, 2**70], (float(2**70), "real")),
    ("select ? = 9223372036854775807 + 1", [2**63], (1,)),
    ("select ?, ?", [True, False], (1, 0)),
    ("select ? || '?' -- ?\n", ["a"], ("a?",)),
    ("select ?", [-9223372036854775808], (-9223372036854775808,)),
])
def test_parameters_round_trip(conn, sql, params, want):
    assert one(conn, sql, params) == want


def test_big_integer_reaches_the_service_exactly(conn):
    # SQLite reads the literal as a REAL; its text as sent shows in the
    # service's statement log.
    one(conn, "select ? as exact_big", [2**70])
    store = conn.admin("querystore")
    assert "select 1180591620717411303424 as exact_big" in [r[0] for r in store.rows]


@pytest.mark.parametrize("dec, want", [
    (False, 2.5),
    (True, decimal.Decimal("2.5")),
])
def test_decimal_parameter_and_result(conn, dec, want):
    got = one(conn, "select ? * 1", [decimal.Decimal("1.25")], dec)[0] * 2
    assert got == want and type(got) is type(want)


def test_nested_json_comes_back_as_dict_and_list(conn):
    # SQLite hands json() out as text; a column declared JSON says what it is.
    cur = conn.cursor()
    cur.execute("create temp table t(doc JSON, plain TEXT);"
                "insert into t values (json(?), json(?));"
                "select doc, plain, json(?) from t",
                ['{"a":[1,2],"big":123456789012345678901234567890}', "[1]", "[2]"])
    rows = cur.fetchall()
    assert rows == [({"a": [1, 2], "big": 123456789012345678901234567890}, "[1]", "[2]")]
    assert cur.nextset() is None  # create and insert give no result set
    assert [d[1] for d in cur.description] == ["JSON", "TEXT", None]


def test_fetch_forms(conn):
    cur = conn.cursor()
    sql = "select id, name from customers order by id limit 7"
    cur.execute(sql)
    assert cur.rowcount == 7
    first = cur.fetchone()
    assert isinstance(first[0], int) and isinstance(first[1], str)
    assert len(cur.fetchmany()) == cur.arraysize == 1
    cur.arraysize = 2
    assert len(cur.fetchmany()) == 2
    assert len(cur.fetchmany(1)) == 1
    rest = cur.fetchall()
    assert len(rest) == 2 and cur.fetchone() is None and cur.fetchall() == []
    cur.execute(sql)
    every = list(cur)
    assert every[0] == first and every[-1] == rest[-1] and len(every) == 7
    cur.execute(sql)
    assert cur.fetchall() == every


def test_description_names_and_types(conn):
    cur = conn.cursor()
    cur.execute("select id, name, 1 + 1 as two from customers limit 1")
    assert [d[:2] for d in cur.description] == [("id", "INTEGER"), ("name", "TEXT"),
                                                 ("two", None)]
    assert all(len(d) == 7 for d in cur.description)


def test_nextset_over_three_statements(conn):
    cur = conn.cursor()
    cur.execute("select 1 as a; select 2 as b, 3 as c union all select 4, 5; select 'x' as d")
    seen = []
    while True:
        seen.append(([d[0] for d in cur.description], cur.fetchall(), cur.rowcount))
        if not cur.nextset():
            break
    assert seen == [(["a"], [(1,)], 1), (["b", "c"], [(2, 3), (4, 5)], 2), (["d"], [("x",)], 1)]
    assert cur.nextset() is None


def test_statements_without_rows(conn):
    cur = conn.cursor()
    cur.execute("create temp table u(x); insert into u values (1), (2), (3)")
    assert cur.description is None and cur.rowcount == 3
    with pytest.raises(tarn.ProgrammingError):
        cur.fetchone()
    cur.executemany("select ?", [[1], [2]])
    assert cur.fetchall() == [(2,)]


def test_fetch_df_when_pandas_is_there(conn):
    cur = conn.cursor()
    cur.execute("select id, name from customers order by id limit 3")
    try:
        import pandas  # noqa: F401
    except ImportError:
        with pytest.raises(tarn.NotSupportedError):
            cur.fetch_df()
        return
    df = cur.fetch_df()
    assert list(df.columns) == ["id", "name"] and len(df) == 3


def running_tokens(url):
    with tarn.connect(url, server="local") as watch:
        reply = watch.activity()
        col = reply.columns.index("query_token")
        return [row[col] for row in reply.rows]


def run_in_thread(cur, sql):
    out = {}

    def run():
        try:
            cur.execute(sql)
            out["rows"] = cur.fetchall()
        except tarn.Error as e:
            out["error"] = e
        out["ended"] = time.monotonic()

    t = threading.Thread(target=run)
    t.start()
    return t, out


def test_cancel_from_another_thread_ends_the_query_on_the_service(conn, service):
    cur = conn.cursor()
    t, out = run_in_thread(cur, LONG)
    assert wait_until(lambda: any(tok.startswith("py-") for tok in running_tokens(service)))
    started = time.monotonic()
    cur.cancel()
    t.join(5)
    assert not t.is_alive()
    assert out["ended"] - started < 2.0
    err = out["error"]
    assert isinstance(err, tarn.OperationalError)
    assert (err.code, err.http_status) == (E.E_HTTP, 409)
    assert running_tokens(service) == []
    cur.execute("select 1")  # the connection still works
    assert cur.fetchone() == (1,)


def test_cancel_aborts_when_the_service_does_not_answer(conn, service):
    cur = conn.cursor()
    cur.timeout = 4  # the service ends the orphaned query itself
    conn._settings = ("http://127.0.0.1:1",) + conn._settings[1:]  # cancels go nowhere
    t, out = run_in_thread(cur, LONG)
    assert wait_until(lambda: running_tokens(service) != [])
    started = time.monotonic()
    cur.cancel()
    t.join(5)
    assert 1.9 < out["ended"] - started < 3.0
    assert out["error"].code == E.E_ABORTED
    assert wait_until(lambda: running_tokens(service) == [], 6)


def test_cancel_with_nothing_running_does_nothing(conn):
    cur = conn.cursor()
    cur.cancel()
    cur.execute("select 2")
    assert cur.fetchone() == (2,)


def test_eight_threads_each_with_a_connection(service):
    failures = []

    def worker(seed):
        rng = random.Random(seed)
        try:
            with tarn.connect(service, server="local", db="shop") as c:
                cur = c.cursor()
                for _ in range(50):
                    a, b = rng.randrange(-10**12, 10**12), rng.randrange(10**6)
                    cur.execute("select ? + ?, ?", [a, b, f"w{seed}"])
                    got = cur.fetchall()
                    if got != [(a + b, f"w{seed}")]:
                        failures.append((seed, a, b, got))
        except Exception as e:  # reported below, not lost in the thread
            failures.append((seed, repr(e)))

    threads = [threading.Thread(target=worker, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not any(t.is_alive() for t in threads)
    assert failures == []


@pytest.mark.parametrize("how, cls, code, status", [
    ("sql_error", tarn.ProgrammingError, E.E_HTTP, 400),
    ("unknown_db", tarn.ProgrammingError, E.E_HTTP, 404),
    ("vacuum", tarn.NotSupportedError, E.E_HTTP, 403),
    ("timeout", tarn.OperationalError, E.E_HTTP, 408),
    ("no_service", tarn.OperationalError, E.E_TRANSPORT, 0),
    ("max_time", tarn.OperationalError, E.E_TIMEOUT, 0),
    ("missing_argument", tarn.ProgrammingError, E.E_ARGUMENT, 0),
    ("bad_tls_policy", tarn.InterfaceError, E.E_SETTINGS, 0),
])
def test_errors_carry_code_and_status(service, how, cls, code, status):
    def run():
        if how == "bad_tls_policy":
            tarn.connect(service, tls="sometimes")
        host = "http://127.0.0.1:1" if how == "no_service" else service
        db = "gone" if how == "unknown_db" else "shop"
        with tarn.connect(host, server="local", db=db,
                          max_time=1 if how == "max_time" else None) as c:
            cur = c.cursor()
            # The service ends what max_time leaves running.
            cur.timeout = {"timeout": 1, "max_time": 3}.get(how, 0)
            if how == "missing_argument":
                c.tree("")
            cur.execute({"sql_error": "select * from nope", "vacuum": "vacuum"}.get(
                how, LONG if how in ("timeout", "max_time") else "select 1"))

    with pytest.raises(tarn.Error) as e:
        run()
    assert type(e.value) is cls
    assert (e.value.code, e.value.http_status) == (code, status)
    assert str(e.value)


def test_closed_connection_refuses(service):
    c = tarn.connect(service, server="local", db="shop")
    cur = c.cursor()
    c.close()
    for call in (cur.execute, lambda _: c.cursor(), lambda _: c.ping()):
        with pytest.raises(tarn.InterfaceError):
            call("select 1")
