#include "hostile_cases.h"

#include <cstring>
#include <stdexcept>

namespace tarn_test {
namespace {

constexpr const char *kReceiveFailed = "WinHttpReceiveResponse failed";
constexpr const char *kReadFailed = "WinHttpReadData failed";

HostileOutcome fails(const char *message) {
    HostileOutcome o;
    o.error = message;
    return o;
}

HostileOutcome gives(int status, std::string body) {
    HostileOutcome o;
    o.status = status;
    o.body = std::move(body);
    return o;
}

HostileOutcome gives_filler(int status) {
    HostileOutcome o;
    o.status = status;
    o.body_is_filler = true;
    return o;
}

HostileCase make(const char *name, std::string head, HostileOutcome want) {
    HostileCase c;
    c.name = name;
    c.head = std::move(head);
    c.want = std::move(want);
    return c;
}

std::vector<HostileCase> build() {
    constexpr size_t kMiB = 1024 * 1024;
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    std::vector<HostileCase> cases;

    cases.push_back(make("garbage_status_line", "SPLAT\r\n\r\nhello", fails(kReceiveFailed)));
    HostileCase zero =
        make("status_0", "HTTP/1.1 000 Zero\r\nContent-Length: 2\r\n\r\nok", fails(kReceiveFailed));
    zero.wine_why = "Wine takes 000 as a status; a status below 1 fails without a message";
    zero.wine = fails("");
    cases.push_back(zero);
    cases.push_back(make("status_99999", "HTTP/1.1 99999 Big\r\nContent-Length: 2\r\n\r\nok",
                         fails(kReceiveFailed)));

    HostileCase endless = make("headers_never_end", ok, fails(kReceiveFailed));
    endless.unit = "X-Again: 0123456789abcdef\r\n";
    endless.count = kMiB / 2 / endless.unit.size();
    endless.wine_why = "Wine's WinHTTP has no limit on the response head; the close ends it";
    endless.wine = gives(200, "");
    cases.push_back(endless);

    HostileCase long_line = make("header_line_of_1_MiB", ok + "X-Big: ", fails(kReceiveFailed));
    long_line.unit = "a";
    long_line.count = kMiB;
    long_line.tail = "\r\nContent-Length: 2\r\n\r\nok";
    long_line.wine_not_run =
        "Wine's WinHTTP reads a long header line so slowly that 1 MiB takes minutes, and then "
        "accepts it where Windows stops at 64 KiB";
    cases.push_back(long_line);

    HostileCase longer = make("body_longer_than_its_length",
                              ok + "Content-Length: 2\r\n\r\nokAND MORE", gives(200, "ok"));
    longer.wine_why = "Wine's WinHTTP reads on to the close past the declared length";
    longer.wine = gives(200, "okAND MORE");
    cases.push_back(longer);
    cases.push_back(make("body_shorter_than_its_length", ok + "Content-Length: 10\r\n\r\nshort",
                         fails(kReadFailed)));

    HostileCase reset =
        make("reset_mid_body", ok + "Content-Length: 200000\r\n\r\n", fails(kReadFailed));
    reset.unit = "r";
    reset.count = 100000;
    reset.end = HostileEnd::kReset;
    cases.push_back(reset);

    cases.push_back(make("bad_chunk_size",
                         ok + "Transfer-Encoding: chunked\r\n\r\nZZ\r\nhello\r\n0\r\n\r\n",
                         fails(kReadFailed)));
    HostileCase huge_chunk = make(
        "huge_chunk_size", ok + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\nabc",
        fails(kReadFailed));
    huge_chunk.wine_why = "Wine's WinHTTP takes a chunk size it cannot read as the end of the body";
    huge_chunk.wine = gives(200, "");
    cases.push_back(huge_chunk);

    HostileCase huge =
        make("reply_of_200_MB", ok + "Content-Length: 209715200\r\n\r\n", gives_filler(200));
    huge.unit = std::string(64 * 1024, 'h');
    for (size_t i = 0; i < huge.unit.size(); i += 61)
        huge.unit[i] = static_cast<char>('0' + i % 10);
    huge.count = 200 * kMiB / huge.unit.size();
    cases.push_back(huge);

    HostileCase silent = make("silent_server", "", fails(kReceiveFailed));
    silent.end = HostileEnd::kSilent;
    cases.push_back(silent);

    HostileCase loop =
        make("redirect_loop", "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n",
             fails(kReceiveFailed));
    loop.max_requests = 11;
    cases.push_back(loop);

    // A redirect that may not be taken is itself the response.
    HostileCase to_file = make("redirect_to_file",
                               "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\n"
                               "Content-Length: 9\r\n\r\nnot taken",
                               gives(302, "not taken"));
    to_file.wine_why =
        "Wine's WinHTTP asks the same server again for the Location's path until its "
        "redirect limit, then fails";
    to_file.wine_max_requests = 11;
    to_file.wine = fails(kReceiveFailed);
    cases.push_back(to_file);
    HostileCase to_ftp = make("redirect_to_ftp",
                              "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1/x\r\n"
                              "Content-Length: 9\r\n\r\nnot taken",
                              gives(302, "not taken"));
    to_ftp.wine_why =
        "Wine's WinHTTP asks the same server again for the Location's path until its "
        "redirect limit, then fails";
    to_ftp.wine_max_requests = 11;
    to_ftp.wine = fails(kReceiveFailed);
    cases.push_back(to_ftp);
    // Port 1 refuses: were the redirect taken, the call would fail.
    HostileCase down = make("redirect_from_https_to_http",
                            "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/end\r\n"
                            "Content-Length: 9\r\n\r\nnot taken",
                            gives(302, "not taken"));
    down.tls = true;
    down.wine_why = "Wine's WinHTTP fails a redirect from https to http rather than hand it back";
    down.wine = fails(kReceiveFailed);
    cases.push_back(down);

    cases.push_back(make("nul_byte_in_body",
                         ok + "Content-Length: 5\r\n\r\n" + std::string("ab\0cd", 5),
                         gives(200, "ab")));
    HostileCase interim = make("interim_replies_first",
                               "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" + ok +
                                   "Content-Length: 2\r\n\r\nok",
                               gives(200, "ok"));
    interim.wine_why = "Wine's WinHTTP fails on an interim reply other than 100 Continue";
    interim.wine = fails(kReceiveFailed);
    cases.push_back(interim);
    return cases;
}

}  // namespace

bool HostileCase::is_filler(const char *text, size_t len) const {
    if (len != unit.size() * count) return false;
    for (size_t at = 0; at < len; at += unit.size())
        if (memcmp(text + at, unit.data(), unit.size()) != 0) return false;
    return true;
}

const std::vector<HostileCase> &hostile_cases() {
    static const std::vector<HostileCase> cases = build();
    return cases;
}

const HostileCase &hostile_case(const std::string &name) {
    for (const HostileCase &c : hostile_cases())
        if (name == c.name) return c;
    throw std::invalid_argument("no hostile case " + name);
}

}  // namespace tarn_test
