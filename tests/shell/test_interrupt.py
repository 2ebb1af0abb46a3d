"""Ctrl-C and time limits stop a query on the service, not only in tarn:
the one-shot program and the shell, through a pseudo-terminal."""
import json
import subprocess
import time

import pexpect

from test_shell import PROGRAM, PROMPT, TIMEOUT, environment, leave, service, spawn, state_dir  # noqa: F401

LONG = "with recursive n(i) as (select 1 union all select i + 1 from n) select count(*) from n"


def running(url):
    """Statements the service is running now."""
    out = subprocess.run([PROGRAM, "--host", url, "activity", "local"], capture_output=True,
                         text=True, timeout=TIMEOUT, check=True).stdout
    return json.loads(out.splitlines()[0])["rows"]


def none_left_within(url, seconds):
    deadline = time.monotonic() + seconds
    while running(url):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def wait_until_running(url):
    deadline = time.monotonic() + TIMEOUT
    while not running(url):
        assert time.monotonic() < deadline, "the query never started"
        time.sleep(0.1)


def test_ctrl_c_cancels_a_one_shot_query_on_the_service(service, state_dir):
    child = pexpect.spawn(PROGRAM, ["query", "local", "shop", LONG],
                          env=environment(service, state_dir), encoding="utf-8", timeout=TIMEOUT)
    wait_until_running(service)
    child.sendintr()
    child.expect_exact("cancelling on the service...")
    child.expect_exact("ERROR: HTTP 409: query cancelled")
    child.expect(pexpect.EOF)
    child.close()
    assert child.exitstatus == 130
    assert none_left_within(service, 2)


def test_a_second_ctrl_c_aborts_and_prints_the_token(service, state_dir):
    # A second press does not wait for the cancel's answer: tarn ends at once.
    child = pexpect.spawn(PROGRAM, ["query", "local", "shop", LONG, "0", "0", "tok-twice"],
                          env=environment(service, state_dir), encoding="utf-8", timeout=TIMEOUT)
    wait_until_running(service)
    child.sendintr()
    child.expect_exact("cancelling on the service...")
    child.sendintr()
    child.expect(pexpect.EOF)
    child.close()
    assert child.exitstatus == 130
    assert none_left_within(service, 2)


def test_max_time_cancels_the_query_it_gives_up_on(service, state_dir):
    started = time.monotonic()
    run = subprocess.run([PROGRAM, "--host", service, "--max-time", "1", "query", "local", "shop",
                          LONG], capture_output=True, text=True, timeout=TIMEOUT)
    assert run.returncode == 1
    assert run.stderr == "ERROR: timed out after 1 s\n"
    assert time.monotonic() - started < 5
    assert none_left_within(service, 2)


def test_ctrl_c_in_the_shell_cancels_the_statement_and_keeps_the_prompt(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline(LONG + ";")
    wait_until_running(service)
    child.sendintr()
    child.expect_exact("cancelling on the service...")
    child.expect_exact("ERROR: HTTP 409: query cancelled")
    child.expect_exact(PROMPT)
    assert none_left_within(service, 2)
    child.sendline("select 5 as after;")
    child.expect_exact("(1 row)")
    child.expect_exact(PROMPT)
    leave(child)


def test_every_result_set_in_each_format(service):
    sql = "select 1 as a; select 2 as b; select 3 as c"
    want = {
        "table": "a\n-\n1\n(1 row)\n\nb\n-\n2\n(1 row)\n\nc\n-\n3\n(1 row)\n",
        "csv": "a\n1\n\nb\n2\n\nc\n3\n",
        "tsv": "a\n1\n\nb\n2\n\nc\n3\n",
        "json": '{"a":1}\n{"b":2}\n{"c":3}\n',
    }
    for fmt, out in want.items():
        run = subprocess.run([PROGRAM, "--host", service, "--format", fmt, "query", "local", "shop",
                              sql], capture_output=True, text=True, timeout=TIMEOUT)
        assert (run.returncode, run.stdout, run.stderr) == (0, out, ""), fmt
    run = subprocess.run([PROGRAM, "--host", service, "--format", "csv", "query", "local", "shop",
                          "select 1 as a; select id from customers", "2"],
                         capture_output=True, text=True, timeout=TIMEOUT)
    assert run.returncode == 0
    assert run.stderr == "tarn: result set 2 cut by the service after 2 rows\n"
