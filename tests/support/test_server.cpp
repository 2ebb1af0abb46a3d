#include "test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace tarn_test {

namespace {

constexpr size_t kMaxHead = 1 << 20;
constexpr char kCertHost[] = "not-this-host.example";

bool iequals(const std::string &a, const std::string &b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

const char *reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

bool bodyless(const Reply &r) {
    return r.status < 200 || r.status == 204 || r.status == 304;
}

// The status line and headers, through the blank line.
std::string format_head(const Reply &r) {
    bool sized = false;
    std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + reason(r.status) + "\r\n";
    for (const Header &h : r.headers) {
        sized = sized || iequals(h.name, "Content-Length") || iequals(h.name, "Transfer-Encoding");
        out += h.name + ": " + h.value + "\r\n";
    }
    if (!sized && !bodyless(r))
        out += "Content-Length: " +
               std::to_string(r.shared_body != nullptr ? r.shared_body->size() : r.body.size()) +
               "\r\n";
    return out + "\r\n";
}

// A self-signed certificate for a host name nobody connects to.
SSL_CTX *make_tls_context(bool expired) {
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    bool ok = key != nullptr && cert != nullptr && ctx != nullptr;
    if (ok) {
        constexpr long kDay = 24L * 3600;
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), expired ? -2 * kDay : -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), expired ? -kDay : kDay);
        X509_set_pubkey(cert, key);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>(kCertHost), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
        std::string san = std::string("DNS:") + kCertHost;
        X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, san.c_str());
        ok = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
        X509_EXTENSION_free(ext);
        ok = ok && X509_sign(cert, key, EVP_sha256()) > 0 &&
             SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("test server: cannot make a TLS certificate");
    }
    return ctx;
}

SSL_CTX *make_tls_context(const TlsIdentity &id) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    BIO *c = BIO_new_mem_buf(id.cert_pem.data(), static_cast<int>(id.cert_pem.size()));
    BIO *k = BIO_new_mem_buf(id.key_pem.data(), static_cast<int>(id.key_pem.size()));
    X509 *cert = PEM_read_bio_X509(c, nullptr, nullptr, nullptr);
    EVP_PKEY *key = PEM_read_bio_PrivateKey(k, nullptr, nullptr, nullptr);
    bool ok = ctx != nullptr && cert != nullptr && key != nullptr &&
              SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(c);
    BIO_free(k);
    if (!ok) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("test server: cannot load the TLS identity");
    }
    return ctx;
}

// One accepted connection, plain or TLS.
class Conn {
public:
    Conn(int fd, SSL_CTX *ctx, std::atomic<size_t> *received) : fd_(fd), received_(received) {
        if (ctx == nullptr) return;
        ssl_ = SSL_new(ctx);
        if (ssl_ == nullptr || SSL_set_fd(ssl_, fd) != 1 || SSL_accept(ssl_) != 1) failed_ = true;
    }
    ~Conn() {
        SSL_free(ssl_);
        ERR_clear_error();
    }
    Conn(const Conn &) = delete;
    Conn &operator=(const Conn &) = delete;

    bool ok() const { return !failed_; }

    // False when nothing arrives within ms.
    bool readable_within(int ms) {
        if (ssl_ != nullptr && SSL_pending(ssl_) > 0) return true;
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    }

    // Appends what arrives to buf; false at end of stream or on error.
    bool fill(std::string *buf) {
        char chunk[16384];
        long n = ssl_ != nullptr ? SSL_read(ssl_, chunk, sizeof chunk)
                                 : recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        *received_ += static_cast<size_t>(n);
        buf->append(chunk, static_cast<size_t>(n));
        return true;
    }

    bool send_all(const char *p, size_t n) {
        while (n > 0) {
            long sent = ssl_ != nullptr ? SSL_write(ssl_, p, static_cast<int>(n))
                                        : ::send(fd_, p, n, MSG_NOSIGNAL);
            if (sent <= 0) {
                if (ssl_ == nullptr && errno == EINTR) continue;
                return false;
            }
            p += sent;
            n -= static_cast<size_t>(sent);
        }
        return true;
    }

private:
    int fd_;
    std::atomic<size_t> *received_;
    SSL *ssl_ = nullptr;
    bool failed_ = false;
};

// Reads from conn until buf holds "\r\n" at or after from; returns its offset.
bool find_line(Conn &conn, std::string *buf, size_t from, size_t *at) {
    for (;;) {
        size_t pos = buf->find("\r\n", from);
        if (pos != std::string::npos) {
            *at = pos;
            return true;
        }
        if (buf->size() > kMaxHead || !conn.fill(buf)) return false;
    }
}

bool take_bytes(Conn &conn, std::string *buf, size_t n, std::string *out) {
    while (buf->size() < n)
        if (!conn.fill(buf)) return false;
    out->append(*buf, 0, n);
    buf->erase(0, n);
    return true;
}

bool read_chunked(Conn &conn, std::string *buf, std::string *body) {
    for (;;) {
        size_t eol = 0;
        if (!find_line(conn, buf, 0, &eol)) return false;
        size_t size = strtoul(buf->substr(0, eol).c_str(), nullptr, 16);
        buf->erase(0, eol + 2);
        if (size == 0) break;
        std::string crlf;
        if (!take_bytes(conn, buf, size, body) || !take_bytes(conn, buf, 2, &crlf)) return false;
    }
    // Trailer lines, up to the blank one.
    for (;;) {
        size_t eol = 0;
        if (!find_line(conn, buf, 0, &eol)) return false;
        buf->erase(0, eol + 2);
        if (eol == 0) return true;
    }
}

bool read_request(Conn &conn, std::string *buf, Request *req) {
    size_t end = std::string::npos;
    while ((end = buf->find("\r\n\r\n")) == std::string::npos)
        if (buf->size() > kMaxHead || !conn.fill(buf)) return false;
    req->head = buf->substr(0, end + 4);
    buf->erase(0, end + 4);

    size_t eol = req->head.find("\r\n");
    std::string line = req->head.substr(0, eol);
    size_t sp1 = line.find(' ');
    size_t sp2 = line.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) return false;
    req->method = line.substr(0, sp1);
    req->target = line.substr(sp1 + 1, sp2 - sp1 - 1);

    for (size_t pos = eol + 2; pos < end + 2;) {
        size_t next = req->head.find("\r\n", pos);
        std::string h = req->head.substr(pos, next - pos);
        pos = next + 2;
        size_t colon = h.find(':');
        Header header{h.substr(0, colon), ""};
        if (colon != std::string::npos) {
            size_t v = h.find_first_not_of(" \t", colon + 1);
            if (v != std::string::npos) header.value = h.substr(v);
        }
        req->headers.push_back(std::move(header));
    }

    if (req->header("Transfer-Encoding").find("chunked") != std::string::npos)
        return read_chunked(conn, buf, &req->body);
    std::string length = req->header("Content-Length");
    return length.empty() ||
           take_bytes(conn, buf, strtoul(length.c_str(), nullptr, 10), &req->body);
}

}  // namespace

std::string Request::path() const {
    return target.substr(0, target.find('?'));
}

std::string Request::header(const std::string &name) const {
    for (const Header &h : headers)
        if (iequals(h.name, name)) return h.value;
    return "";
}

bool Request::has_header(const std::string &name) const {
    return header_count(name) > 0;
}

size_t Request::header_count(const std::string &name) const {
    size_t n = 0;
    for (const Header &h : headers)
        if (iequals(h.name, name)) ++n;
    return n;
}

namespace {

std::string json_text(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string echo_body(const Request &req) {
    return R"({"columns":["target","password","token","body"],"rows":[[)" + json_text(req.target) +
           "," + json_text(req.header("X-Bot-Password")) + "," +
           json_text(req.header("Authorization")) + "," + json_text(req.body) + "]]}";
}

}  // namespace

Reply echo() {
    Reply r;
    r.echo = true;
    return r;
}

Reply redirect(const std::string &location, int status) {
    Reply r;
    r.status = status;
    r.headers.push_back({"Location", location});
    return r;
}

struct TestServer::Impl {
    bool https = false;
    SSL_CTX *tls = nullptr;
    int listen_fd = -1;
    int wake[2] = {-1, -1};
    int port = 0;
    std::atomic<size_t> received{0};

    mutable std::mutex mu;
    std::condition_variable cv;
    bool stopping = false;
    Reply fallback;
    std::map<std::string, Reply> routes;
    std::deque<Reply> queued;
    std::vector<Request> seen;
    std::set<int> live;  // connections to cut when stopping
    size_t accepted = 0;
    int idle_close_ms = 0;
    bool record = true;
    std::map<int, std::thread> workers;
    std::vector<int> finished;
    int next_worker = 0;
    std::thread acceptor;

    void accept_loop();
    void serve(int fd, int id);
    bool answer(Conn &conn, const Reply &r, bool client_closes);
    // Waits ms (forever when negative); false once the server is stopping.
    bool pause(int ms);
    void reap();
};

bool TestServer::Impl::pause(int ms) {
    std::unique_lock<std::mutex> lock(mu);
    auto stop_requested = [this] { return stopping; };
    if (ms < 0)
        cv.wait(lock, stop_requested);
    else
        cv.wait_for(lock, std::chrono::milliseconds(ms), stop_requested);
    return !stopping;
}

void TestServer::Impl::reap() {
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(mu);
        for (int id : finished) {
            done.push_back(std::move(workers[id]));
            workers.erase(id);
        }
        finished.clear();
    }
    for (std::thread &t : done) t.join();
}

void TestServer::Impl::accept_loop() {
    // Writing to a connection the client closed must not kill the process;
    // workers inherit this mask.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);

    for (;;) {
        pollfd fds[2] = {{listen_fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        int fd = accept(listen_fd, nullptr, nullptr);
        if (fd < 0) continue;
        reap();
        std::lock_guard<std::mutex> lock(mu);
        if (stopping) {
            close(fd);
            return;
        }
        live.insert(fd);
        ++accepted;
        int id = next_worker++;
        workers.emplace(id, std::thread(&Impl::serve, this, fd, id));
    }
}

bool TestServer::Impl::answer(Conn &conn, const Reply &r, bool client_closes) {
    if (r.delay_ms != 0 && !pause(r.delay_ms)) return false;
    // An ordinary reply goes out in one write, so Nagle never holds its body
    // back; raw bytes and a shared body are sent from where they lie.
    std::string head;
    const std::string *rest = nullptr;
    if (r.raw.has_value()) {
        rest = &*r.raw;
    } else if (bodyless(r)) {
        head = format_head(r);
    } else if (r.shared_body != nullptr) {
        head = format_head(r);
        rest = r.shared_body.get();
    } else {
        head = format_head(r) + r.body;
    }
    bool first = true;
    for (const std::string *part : {static_cast<const std::string *>(&head), rest}) {
        if (part == nullptr) continue;
        if (r.pace_ms <= 0) {
            if (!conn.send_all(part->data(), part->size())) return false;
            continue;
        }
        for (char c : *part) {
            if (!first && !pause(r.pace_ms)) return false;
            first = false;
            if (!conn.send_all(&c, 1)) return false;
        }
    }
    if (r.stall_ms != 0 && !pause(r.stall_ms)) return false;
    if (r.raw.has_value()) return !r.close_after_raw;
    for (const Header &h : r.headers)
        if (iequals(h.name, "Connection") && iequals(h.value, "close")) return false;
    return !client_closes;
}

void TestServer::Impl::serve(int fd, int id) {
    {
        Conn conn(fd, tls, &received);
        std::string buf;
        bool first = true;
        while (conn.ok()) {
            int idle_ms = 0;
            {
                std::lock_guard<std::mutex> lock(mu);
                idle_ms = idle_close_ms;
            }
            if (!first && idle_ms > 0 && buf.empty() && !conn.readable_within(idle_ms)) break;
            first = false;
            Request req;
            if (!read_request(conn, &buf, &req)) break;
            Reply reply;
            {
                std::lock_guard<std::mutex> lock(mu);
                if (record) seen.push_back(req);
                auto route = routes.find(req.path());
                if (!queued.empty()) {
                    reply = std::move(queued.front());
                    queued.pop_front();
                } else if (route != routes.end()) {
                    reply = route->second;
                } else {
                    reply = fallback;
                }
            }
            if (reply.echo) {
                reply.body = echo_body(req);
                reply.shared_body.reset();
            }
            if (!answer(conn, reply, iequals(req.header("Connection"), "close"))) break;
        }
    }
    std::lock_guard<std::mutex> lock(mu);
    live.erase(fd);
    close(fd);
    finished.push_back(id);
}

TestServer::TestServer(bool https, bool expired_cert) : impl_(std::make_unique<Impl>()) {
    if (https) impl_->tls = make_tls_context(expired_cert);
    impl_->https = https;
    listen_and_serve();
}

TestServer::TestServer(const TlsIdentity &identity) : impl_(std::make_unique<Impl>()) {
    impl_->tls = make_tls_context(identity);
    impl_->https = true;
    listen_and_serve();
}

void TestServer::listen_and_serve() {
    Impl &s = *impl_;
    s.listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (s.listen_fd < 0 || bind(s.listen_fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        listen(s.listen_fd, 64) != 0 ||
        getsockname(s.listen_fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
        pipe2(s.wake, O_CLOEXEC) != 0) {
        if (s.listen_fd >= 0) close(s.listen_fd);
        SSL_CTX_free(s.tls);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    s.port = ntohs(addr.sin_port);
    s.acceptor = std::thread(&Impl::accept_loop, impl_.get());
}

TestServer::~TestServer() {
    stop();
    close(impl_->listen_fd);
    close(impl_->wake[0]);
    close(impl_->wake[1]);
    SSL_CTX_free(impl_->tls);
}

void TestServer::stop() {
    Impl &s = *impl_;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (s.stopping) return;
        s.stopping = true;
        // Wakes workers blocked in a read or write on their connection.
        for (int fd : s.live) shutdown(fd, SHUT_RDWR);
    }
    s.cv.notify_all();
    char byte = 0;
    while (write(s.wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    s.acceptor.join();
    std::map<int, std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        workers.swap(s.workers);
    }
    for (auto &w : workers) w.second.join();
}

int TestServer::port() const {
    return impl_->port;
}

std::string TestServer::url() const {
    return std::string(impl_->https ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(impl_->port);
}

void TestServer::set_default(Reply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->fallback = std::move(reply);
}

void TestServer::route(const std::string &path, Reply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->routes[path] = std::move(reply);
}

void TestServer::queue(Reply reply) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->queued.push_back(std::move(reply));
}

std::vector<Request> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->seen;
}

size_t TestServer::count() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->seen.size();
}

size_t TestServer::connections() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->accepted;
}

void TestServer::forget_requests() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->record = false;
}

void TestServer::close_idle_after(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->idle_close_ms = ms;
}

Request TestServer::last() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->seen.empty() ? Request{} : impl_->seen.back();
}

size_t TestServer::bytes_received() const {
    return impl_->received;
}

bool TestServer::wait_idle(int timeout_ms) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(impl_->mu);
            if (impl_->live.empty()) return true;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TestServer::clear() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->seen.clear();
}

}  // namespace tarn_test
