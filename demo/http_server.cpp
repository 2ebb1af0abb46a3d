#include "http_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "http_wire.h"
#include "json.h"

namespace demo {

bool NoCase::operator()(const std::string &a, const std::string &b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::string Request::get_param_value(const char *name) const {
    auto it = params.find(name);
    return it != params.end() ? it->second : "";
}

std::string Request::get_header_value(const char *name) const {
    auto it = headers.find(name);
    return it != headers.end() ? it->second : "";
}

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point after_ms(int ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

// One client connection; closing it is owning it going away.
struct Connection {
    Connection(int fd_, std::atomic<size_t> &open_) : fd(fd_), open(open_) { ++open; }
    ~Connection() {
        close(fd);
        --open;
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Ready for the next request; bytes of it may already be in `in`.
    void reset(const HttpLimits &limits) {
        scan = {};
        have_head = false;
        req = Request{};
        info = {};
        deadline = in.empty() ? after_ms(limits.idle_ms) : after_ms(limits.head_deadline_ms);
    }

    int fd;
    std::atomic<size_t> &open;
    std::string in;
    wire::HeadScan scan;
    bool have_head = false;
    Request req;
    wire::HeadInfo info;
    Clock::time_point deadline;
    Clock::time_point head_at;
};
using ConnPtr = std::unique_ptr<Connection>;

// Runs tasks on a fixed number of threads, in order of arrival.
class Pool {
public:
    void start(int threads) {
        for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
    }
    void submit(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            tasks_.push_back(std::move(task));
        }
        cv_.notify_one();
    }
    // Lets running tasks finish; tasks still waiting are dropped.
    void stop() {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> lock(mu_);
            stopping_ = true;
            dropped.swap(tasks_);
        }
        cv_.notify_all();
        for (auto &t : threads_) t.join();
        threads_.clear();
    }

private:
    void work() {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(mu_);
                cv_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
                if (stopping_) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

// Sends all of the parts, waiting for room at most stall_ms at a time.
bool send_all(int fd, std::string_view a, std::string_view b, int stall_ms) {
    iovec iov[2] = {{const_cast<char *>(a.data()), a.size()},
                    {const_cast<char *>(b.data()), b.size()}};
    int first = 0;
    while (first < 2) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = static_cast<size_t>(2 - first);
        ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, stall_ms) <= 0) return false;
            continue;
        }
        auto left = static_cast<size_t>(n);
        while (first < 2 && left >= iov[first].iov_len) left -= iov[first++].iov_len;
        if (first < 2) {
            iov[first].iov_base = static_cast<char *>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return true;
}

}  // namespace

struct HttpServer::Impl {
    HttpLimits limits;
    HttpHandlers handlers;
    int listen_fd = -1;
    int wake_fd = -1;
    int ep = -1;
    std::atomic<bool> stopping{false};
    std::atomic<size_t> open{0};
    std::unordered_map<int, ConnPtr> waiting;  // read by the loop; owned by it
    std::mutex back_mu;
    std::vector<ConnPtr> back;  // finished on a worker, kept alive
    Pool control, queries;

    void wake() {
        uint64_t one = 1;
        ssize_t n = write(wake_fd, &one, sizeof one);
        (void)n;
    }

    void watch(ConnPtr c) {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = c->fd;
        if (epoll_ctl(ep, EPOLL_CTL_ADD, c->fd, &ev) != 0) return;  // dropped: closes it
        int fd = c->fd;
        waiting[fd] = std::move(c);
        progress(fd);
    }

    ConnPtr unwatch(int fd) {
        auto it = waiting.find(fd);
        ConnPtr c = std::move(it->second);
        waiting.erase(it);
        epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
        return c;
    }

    // A reply the loop sends itself (a refusal before the request runs);
    // the connection closes after it.
    void refuse(int fd, int status, const std::string &why) {
        ConnPtr c = unwatch(fd);
        Response res;
        res.status = status;
        res.body = error_body(why);
        if (status == 401) res.set_header("WWW-Authenticate", "Bearer");
        finish_refusal(*c, res);
    }

    void finish_refusal(Connection &c, const Response &res) {
        std::string head = wire::reply_head(res, res.body.size(), false);
        send_all(c.fd, head, res.body, 1000);
        shutdown(c.fd, SHUT_WR);
        if (handlers.done) handlers.done(c.req, res, 0);
    }

    void accept_all() {
        for (;;) {
            int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_unique<Connection>(fd, open);
            if (open.load() > limits.connections && !evict_one()) {
                Response res;
                res.status = 503;
                res.body = error_body("too many connections");
                finish_refusal(*c, res);
                continue;
            }
            c->reset(limits);
            watch(std::move(c));
            // The request often follows the handshake at once.
            if (waiting.count(fd) != 0) readable(fd);
        }
    }

    // Closes the connection that has waited longest for its next bytes.
    bool evict_one() {
        auto oldest = waiting.end();
        for (auto it = waiting.begin(); it != waiting.end(); ++it)
            if (oldest == waiting.end() || it->second->deadline < oldest->second->deadline)
                oldest = it;
        if (oldest == waiting.end()) return false;
        unwatch(oldest->first);
        return true;
    }

    void readable(int fd) {
        Connection &c = *waiting[fd];
        char buf[16384];
        for (;;) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                if (c.in.empty() && !c.have_head) c.deadline = after_ms(limits.head_deadline_ms);
                c.in.append(buf, static_cast<size_t>(n));
                // Stop reading a head past its limit; the scan refuses it.
                if (!c.have_head && c.in.size() > limits.head_bytes) break;
                if (c.have_head && c.in.size() >= c.scan.head_len + c.info.content_length) break;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            unwatch(fd);  // closed by the client, or failed
            return;
        }
        progress(fd);
    }

    // Moves a connection on with the bytes it has: refuse, wait, or run.
    void progress(int fd) {
        Connection &c = *waiting[fd];
        if (!c.have_head) {
            if (c.in.empty()) return;
            int st = wire::scan_head(c.scan, c.in, limits);
            if (st == 0) return;
            if (st > 0)
                return refuse(
                    fd, st,
                    st == 414 ? "the request line is too long" : "the request head is too large");
            std::string why;
            st = wire::parse_head(std::string_view(c.in).substr(0, c.scan.head_len), c.req, c.info,
                                  why);
            if (st != 0) return refuse(fd, st, why);
            if (c.info.content_length > limits.body_bytes)
                return refuse(
                    fd, 413,
                    "the body is larger than " + std::to_string(limits.body_bytes) + " bytes");
            c.have_head = true;
            c.head_at = Clock::now();
            c.deadline = after_ms(limits.body_deadline_ms);
            Response gate;
            if (handlers.gate && handlers.gate(c.req, gate)) {
                ConnPtr own = unwatch(fd);
                return finish_refusal(*own, gate);
            }
            if (c.info.expect_continue && c.in.size() < c.scan.head_len + c.info.content_length) {
                static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
                send(fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
            }
        }
        size_t end = c.scan.head_len + c.info.content_length;
        if (c.in.size() < end) return;
        c.req.body = c.in.substr(c.scan.head_len, c.info.content_length);
        c.in.erase(0, end);
        ConnPtr own = unwatch(fd);
        Pool &pool = handlers.is_control && handlers.is_control(own->req) ? control : queries;
        auto shared = std::make_shared<ConnPtr>(std::move(own));
        pool.submit([this, shared] { serve(std::move(*shared)); });
    }

    // On a worker: runs the request, replies, and hands a kept connection
    // back to the loop.
    void serve(ConnPtr c) {
        Response res;
        c->req.fd = c->fd;
        try {
            handlers.handle(c->req, res);
        } catch (...) {
            res = Response{};
            res.status = 500;
            res.body = error_body("internal error");
        }
        bool keep = c->info.keep_alive && !stopping.load();
        std::string head = wire::reply_head(res, res.body.size(), keep);
        std::string_view body = c->req.method == "HEAD" ? std::string_view() : res.body;
        bool sent = send_all(c->fd, head, body, limits.write_stall_ms);
        if (handlers.done) {
            auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - c->head_at);
            handlers.done(c->req, res, ms.count());
        }
        if (!sent || !keep) return;
        c->reset(limits);
        {
            std::lock_guard<std::mutex> lock(back_mu);
            back.push_back(std::move(c));
        }
        wake();
    }

    void take_back() {
        std::vector<ConnPtr> got;
        {
            std::lock_guard<std::mutex> lock(back_mu);
            got.swap(back);
        }
        for (ConnPtr &c : got) watch(std::move(c));
    }

    void expire() {
        auto now = Clock::now();
        std::vector<int> late;
        for (auto &[fd, c] : waiting)
            if (c->deadline <= now) late.push_back(fd);
        for (int fd : late) {
            Connection &c = *waiting[fd];
            if (c.in.empty() && !c.have_head)
                unwatch(fd);  // an idle kept-alive connection: closed quietly
            else
                refuse(fd, 408,
                       c.have_head ? "the body did not arrive in time"
                                   : "the request head did not arrive in time");
        }
    }
};

HttpServer::HttpServer(HttpLimits limits, HttpHandlers handlers) : impl_(std::make_unique<Impl>()) {
    impl_->limits = limits;
    impl_->handlers = std::move(handlers);
}

HttpServer::~HttpServer() {
    if (impl_->listen_fd >= 0) close(impl_->listen_fd);
    if (impl_->wake_fd >= 0) close(impl_->wake_fd);
    if (impl_->ep >= 0) close(impl_->ep);
}

int HttpServer::bind(const std::string &host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 128) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) return -1;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    impl_->listen_fd = fd;
    return ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port
                                            : reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
}

bool HttpServer::run() {
    Impl &s = *impl_;
    s.wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s.ep = epoll_create1(EPOLL_CLOEXEC);
    if (s.listen_fd < 0 || s.wake_fd < 0 || s.ep < 0) return false;
    for (int fd : {s.listen_fd, s.wake_fd}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(s.ep, EPOLL_CTL_ADD, fd, &ev);
    }
    s.control.start(s.limits.control_workers);
    s.queries.start(s.limits.query_workers);
    epoll_event events[64];
    auto next_expiry = Clock::now();
    while (!s.stopping.load()) {
        int n = epoll_wait(s.ep, events, 64, 200);
        for (int i = 0; i < n && !s.stopping.load(); ++i) {
            int fd = events[i].data.fd;
            if (fd == s.listen_fd) {
                s.accept_all();
            } else if (fd == s.wake_fd) {
                uint64_t count = 0;
                ssize_t got = read(s.wake_fd, &count, sizeof count);
                (void)got;
                s.take_back();
            } else if (s.waiting.count(fd) != 0) {
                s.readable(fd);
            }
        }
        if (Clock::now() >= next_expiry) {
            s.expire();
            next_expiry = after_ms(100);
        }
    }
    close(s.listen_fd);
    s.listen_fd = -1;
    s.waiting.clear();
    s.control.stop();
    s.queries.stop();
    std::lock_guard<std::mutex> lock(s.back_mu);
    s.back.clear();
    return true;
}

void HttpServer::stop() {
    impl_->stopping = true;
    if (impl_->wake_fd >= 0) impl_->wake();
}

}  // namespace demo
