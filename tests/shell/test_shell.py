"""tarn shell through a pseudo-terminal (and a pipe) against the demo service.

Run: TARN_PROGRAM=build/cli/tarn TARN_DEMO_SERVICE=build/demo/tarn-demo-service \
     python3 -m pytest -q tests/shell
"""
import os
import stat
import subprocess
import tempfile

import pexpect
import pytest

PROGRAM = os.environ.get("TARN_PROGRAM", "build/cli/tarn")
SERVICE = os.environ.get("TARN_DEMO_SERVICE", "build/demo/tarn-demo-service")
PROMPT = "local/shop=> "
TIMEOUT = 20


@pytest.fixture(scope="module")
def service():
    data = tempfile.TemporaryDirectory(prefix="tarn-shell-")
    proc = subprocess.Popen([SERVICE, "--listen", "127.0.0.1:0", "--data", data.name],
                            stdout=subprocess.PIPE, text=True)
    url = proc.stdout.readline().strip()
    assert url.startswith("http://"), url
    yield url
    proc.terminate()
    proc.wait(timeout=10)
    data.cleanup()


@pytest.fixture
def state_dir():
    with tempfile.TemporaryDirectory(prefix="tarn-state-") as d:
        yield d


def environment(url, state, **extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("TARN_")}
    env.update(TARN_HOST=url, XDG_STATE_HOME=state, HOME=state, TERM="vt100", PAGER="cat")
    env.update(extra)
    return env


def spawn(url, state, rows=40, cols=200, **extra):
    child = pexpect.spawn(PROGRAM, ["shell", "local", "shop"], env=environment(url, state, **extra),
                          dimensions=(rows, cols), encoding="utf-8", timeout=TIMEOUT)
    child.expect_exact(PROMPT)
    return child


def leave(child):
    child.sendline("\\q")
    child.expect(pexpect.EOF)
    child.close()
    assert child.exitstatus == 0


def test_tab_completes_a_table_and_a_column_of_a_named_table_over_two_lines(service, state_dir):
    child = spawn(service, state_dir)
    child.send("select count(*) from cust\t")
    child.expect_exact("customers ")
    child.sendline("")
    # The statement is open: the continuation prompt.
    child.expect_exact("local/shop-> ")
    child.sendline(";")
    child.expect_exact("(1 row)")
    child.expect_exact(PROMPT)
    child.send("select count(*) from orders\r")
    child.expect_exact("local/shop-> ")
    child.send("where customer_\t")
    child.expect_exact("customer_id ")
    child.sendline("> 0;")
    child.expect(r"count\(\*\)\s*\r\n-+\r\n(\d+)\s*\r\n\(1 row\)")
    assert int(child.match.group(1)) > 0
    leave(child)


def test_describe_lists_columns_and_indexes(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline("\\d orders")
    for text in ("customer_id", "INTEGER", "status", "orders_by_customer"):
        child.expect_exact(text)
    child.expect_exact(PROMPT)
    leave(child)


def test_expanded_auto_only_when_the_row_is_wider_than_the_terminal(service, state_dir):
    child = spawn(service, state_dir, cols=80)
    child.sendline("\\x auto")
    child.expect_exact("expanded display is auto")
    child.sendline("select '%s' as wide, 2 as b;" % ("w" * 120))
    child.expect_exact("-[ row 1 ]-")
    child.expect(r"wide \| w{120}")
    child.expect(r"b    \| 2")
    child.expect_exact(PROMPT)
    child.sendline("select 1 as narrow;")
    child.expect(r"narrow\r\n------\r\n1")
    leave(child)


def test_history_is_kept_across_two_shells_in_a_private_file(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline("select 4242 as remembered;")
    child.expect_exact("(1 row)")
    leave(child)
    path = os.path.join(state_dir, "tarn", "history")
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o600
    child = spawn(service, state_dir)
    child.send("\x1b[A")  # up: the last line of the shell before
    child.expect_exact("\\q")
    child.send("\x1b[A")
    child.expect_exact("select 4242 as remembered;")
    child.send("\r")
    child.expect(r"remembered\r\n-+\r\n4242")
    leave(child)


def test_quoted_variable_holds_a_quote(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline("\\set who O'Brien")
    child.expect_exact(PROMPT)
    child.sendline("select :'who' as w, length(:'who') as n;")
    child.expect(r"O'Brien \| 7")
    leave(child)


def test_include_runs_each_statement_of_a_file(service, state_dir):
    path = os.path.join(state_dir, "three.sql")
    with open(path, "w") as f:
        f.write("select 1 as one;\nselect 2\n  as two;\n-- a note\nselect 3 as three;\n")
    child = spawn(service, state_dir)
    child.sendline("\\i " + path)
    for name, value in (("one", 1), ("two", 2), ("three", 3)):
        child.expect(r"%s\r\n-+\r\n%d\s*\r\n\(1 row\)" % (name, value))
    child.expect_exact(PROMPT)
    leave(child)


def test_watch_repeats_until_ctrl_c_and_the_shell_goes_on(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline("select 7 as watched;")
    child.expect_exact("(1 row)")
    child.expect_exact(PROMPT)
    child.sendline("\\watch 1")
    for _ in range(2):
        child.expect_exact("watched")
    child.sendintr()
    child.expect_exact(PROMPT)
    child.sendline("select 8 as after;")
    child.expect(r"after\r\n-+\r\n8")
    leave(child)


def test_ctrl_c_at_the_prompt_clears_the_line_and_ctrl_d_leaves(service, state_dir):
    child = spawn(service, state_dir)
    child.send("select 77")
    child.sendintr()
    child.expect_exact(PROMPT)
    child.sendline("select 88 as fresh;")
    child.expect(r"fresh\r\n-+\r\n88")
    child.expect_exact(PROMPT)
    child.sendeof()
    child.expect(pexpect.EOF)
    child.close()
    assert child.exitstatus == 0


def test_output_taller_than_the_terminal_goes_through_the_pager(service, state_dir):
    child = spawn(service, state_dir, rows=10, PAGER="sed s/^/PAGED:/")
    child.sendline("select id from customers limit 20;")
    child.expect_exact("PAGED:(20 rows)")
    child.expect_exact(PROMPT)
    child.sendline("select 1 as short;")
    child.expect(r"\r\n1\s*\r\n\(1 row\)")
    assert "PAGED" not in child.before
    leave(child)


def run_script(url, state, script, *options):
    r = subprocess.run([PROGRAM, *options, "shell", "local", "shop"], input=script.encode(),
                       capture_output=True, env=environment(url, state), timeout=TIMEOUT)
    # Bytes as written: CSV lines keep their CR LF.
    r.stdout, r.stderr = r.stdout.decode(), r.stderr.decode()
    return r


def test_a_script_on_standard_input_stops_at_its_first_error(service, state_dir):
    script = "select 1 as first;\nselect * from nope;\nselect 3 as third;\n"
    r = run_script(service, state_dir, script)
    assert r.returncode == 1
    assert "first" in r.stdout and "third" not in r.stdout
    assert r.stderr == "ERROR: HTTP 400: no such table: nope\n"
    # No prompt and no history when reading a script.
    assert "=>" not in r.stdout
    assert not os.path.exists(os.path.join(state_dir, "tarn", "history"))

    r = run_script(service, state_dir, script, "--keep-going")
    assert r.returncode == 1
    assert "first" in r.stdout and "third" in r.stdout


def test_a_script_prints_every_footer_and_its_last_open_statement(service, state_dir):
    script = ("\\set n 2\nupdate customers set name = name where id <= :n;\n"
              "\\format csv\nselect 5 as last")
    r = run_script(service, state_dir, script)
    assert r.returncode == 0, r.stderr
    assert r.stdout == "(2 rows changed)\nlast\r\n5\r\n"


def test_an_unknown_meta_command_is_one_error_line(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline("\\nonsense")
    child.expect_exact("ERROR: unknown meta command \\nonsense")
    child.expect_exact(PROMPT)
    leave(child)


META_CASES = [
    # (script, text standard output holds, text standard error holds)
    ("\\l\n", "shop.db", ""),
    ("\\dt ord*\n", "order_lines", ""),
    ("\\dt ord*\n", "(2 rows)", ""),
    ("\\dv\n", "order_totals", ""),
    ("\\di orders_by_*\n", "orders_by_customer", ""),
    ("\\script orders\n", "CREATE TABLE orders (", ""),
    ("\\script select customers\n", 'FROM "customers"', ""),
    ("\\jobs\n", "restock_low_products", ""),
    ("\\activity\n", "(0 rows)", ""),
    ("\\timing on\nselect 1;\n", "Time: ", ""),
    ("select 41 + 1 as v;\n\\g\n", "42\n(1 row)\nv\n--\n42", ""),
    ("\\set a 1\n\\set b two\n\\set\n", "a = '1'\nb = 'two'\n", ""),
    ("\\c local shop\nselect 1 as a;\n", "now on local/shop\n", ""),
    ("\\?\n", "\\watch SECONDS", ""),
    ("\\refresh\nselect 3 as c;\n", "(1 row)", ""),
    ("\\x on\nselect 1 as a, 2 as b;\n", "-[ row 1 ]-\na | 1\nb | 2\n(1 row)", ""),
    ("\\format json\nselect 1 as a, 'x' as b;\n", '{"a":1,"b":"x"}\n', ""),
    ("\\format tsv\nselect 'a\tb' as t;\n", "t\na\\tb\n", ""),
    ("select 1 as a; \\q\nselect 2 as never;\n", "a\n-\n1", ""),
    ("\\kill 99999\n", "", "ERROR: HTTP 404: no running request with spid 99999\n"),
    ("\\c nowhere\n", "", "ERROR: HTTP 404"),
    ("\\x sideways\n", "", "ERROR: \\x takes on, off or auto, not sideways\n"),
    ("\\i /nonexistent.sql\n", "", "ERROR: cannot read /nonexistent.sql"),
]


@pytest.mark.parametrize("script,out,err", META_CASES)
def test_meta_commands_in_a_script(service, state_dir, script, out, err):
    r = run_script(service, state_dir, script)
    assert out in r.stdout, r.stdout + r.stderr
    assert err in r.stderr
    assert r.returncode == (1 if err else 0)
    if not err:
        assert r.stderr == ""
    assert "never" not in r.stdout


def test_o_writes_results_to_a_file_and_back(service, state_dir):
    path = os.path.join(state_dir, "out.txt")
    r = run_script(service, state_dir,
                   "\\o %s\nselect 1 as infile;\n\\o\nselect 2 as onscreen;\n" % path)
    assert r.returncode == 0, r.stderr
    with open(path) as f:
        assert "infile" in f.read()
    assert "infile" not in r.stdout and "onscreen" in r.stdout


def test_a_set_the_service_cut_says_so_in_its_footer(service, state_dir):
    # The service keeps 100,000 rows of a result when the request names no limit.
    script = ("with recursive n(i) as (select 1 union all select i + 1 from n where i < 100005)"
              " select i from n;\n")
    r = run_script(service, state_dir, script)
    assert r.returncode == 0, r.stderr
    assert r.stdout.endswith("\n100000\n(cut by the service after 100000 rows)\n")


def test_a_slow_statement_shows_its_elapsed_time_until_it_ends(service, state_dir):
    child = spawn(service, state_dir)
    child.sendline("select 1 as quick;")
    child.expect_exact("(1 row)")
    assert "elapsed" not in child.before
    child.expect_exact(PROMPT)
    child.sendline("with recursive n(i) as (select 1 union all select i + 1 from n"
                   " where i < 8000000) select count(*) as slow from n;")
    child.expect(r"\relapsed \d+\.\d s")
    # Erased before the result is printed.
    child.expect(r"\r {20}\rslow")
    child.expect_exact("8000000")
    leave(child)
