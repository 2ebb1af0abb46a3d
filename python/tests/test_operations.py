"""Each Connection operation once against the demo service."""

import pytest

import tarn


def job_id(c):
    reply = c.admin("jobs")
    return reply.rows[0][reply.columns.index("id")]


# operation, call, a check of its reply
CASES = [
    ("ping", lambda c: c.ping(), lambda r: r.data["ok"] is True),
    ("list_connections", lambda c: c.list_connections(),
     lambda r: r.columns == ["id", "name", "db"] and ("local" in [x[1] for x in r.rows])),
    ("save_connection", lambda c: c.save_connection({"name": "py", "db": "shop"}),
     lambda r: r.data["id"] == "2"),
    ("test_connection", lambda c: c.test_connection('{"name":"t","db":"shop"}'),
     lambda r: r.data["ok"] is True),
    ("delete_connection", lambda c: c.delete_connection(2), lambda r: r.http_status == 200),
    ("tree", lambda c: c.tree("tables"),
     lambda r: sorted(x[r.columns.index("name")] for x in r.rows)
     == ["customers", "order_lines", "orders", "products"]),
    ("editgrid_load", lambda c: c.editgrid_load("products", schema="main", top=2),
     lambda r: len(r.rows) == 2 and r.columns[0] == "rowid"),
    ("editgrid_apply",
     lambda c: c.editgrid_apply({"db": "shop", "table": "products", "deletes": []}),
     lambda r: r.http_status == 200),
    ("script", lambda c: c.script("create", "table", "orders", schema="main"),
     lambda r: "CREATE TABLE" in r.data["script"].upper()),
    ("activity", lambda c: c.activity(), lambda r: "query_token" in r.columns),
    ("storage", lambda c: c.storage("files"),
     lambda r: "shop" in [x[0] for x in r.rows]),
    ("storage_post", lambda c: c.storage_post("integrity_check", {"db": "shop"}),
     lambda r: r.http_status == 200),
    ("admin", lambda c: c.admin("jobs"), lambda r: len(r.rows) >= 2),
    ("job_control", lambda c: c.job_control(job_id(c), "disable"),
     lambda r: r.data["enabled"] is False),
]


@pytest.mark.parametrize("name, call, check", CASES, ids=[c[0] for c in CASES])
def test_operation(conn, name, call, check):
    reply = call(conn)
    assert isinstance(reply, tarn.Reply)
    assert check(reply), reply


# Operations on something that is not there: the service's refusal.
REFUSED = [
    ("cancel", lambda c: c.cancel("no-such-token"), 404),
    ("cancel_spid", lambda c: c.cancel_spid(99999), 404),
    ("activity_kill", lambda c: c.activity_kill(99999), 404),
]


@pytest.mark.parametrize("name, call, status", REFUSED, ids=[c[0] for c in REFUSED])
def test_refused_operation(conn, name, call, status):
    with pytest.raises(tarn.Error) as e:
        call(conn)
    assert (e.value.code, e.value.http_status) == (tarn.exceptions.E_HTTP, status)
