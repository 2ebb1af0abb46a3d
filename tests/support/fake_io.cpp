#include "fake_io.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>

namespace tarn_test {

Outcome reply(int32_t status, std::string body) {
    Outcome o;
    o.status = status;
    o.body = std::move(body);
    return o;
}

Outcome failure(std::string message, bool has_message) {
    Outcome o;
    o.rc = -1;
    o.status = 0;
    o.has_body = false;
    o.has_error = has_message;
    o.error = std::move(message);
    return o;
}

FakeIo::FakeIo(bool with_free_slot) {
    table_.user_data = this;
    table_.get = &FakeIo::get;
    table_.post = &FakeIo::post;
    table_.free_buf = with_free_slot ? &FakeIo::free_buf : nullptr;
}

FakeIo::~FakeIo() {
    // Anything still live was never given back: a leak in the core. Without
    // a free slot the core calls free() itself and LeakSanitizer watches.
    if (table_.free_buf != nullptr) {
        EXPECT_EQ(outstanding(), 0) << "buffers handed out but not returned";
    }
    tarn_client_set_io(nullptr);
}

char *FakeIo::hand_out(const std::string &text) {
    auto *buf = static_cast<char *>(malloc(text.size() + 1));
    memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    ++handed_out_;
    live_.insert(buf);
    return buf;
}

int32_t FakeIo::play(Call call, char **out_body, int32_t *out_status, char **out_error) {
    calls_.push_back(std::move(call));
    Outcome o;
    if (script_.empty()) {
        o = reply(200, "{}");
    } else {
        o = std::move(script_.front());
        script_.pop_front();
    }
    *out_status = o.status;
    *out_body = o.has_body ? hand_out(o.body) : nullptr;
    *out_error = o.has_error ? hand_out(o.error) : nullptr;
    return o.rc;
}

int32_t FakeIo::get(void *self, const char *url, const char *headers, char **out_body,
                    int32_t *out_status, char **out_error) {
    Call c;
    c.method = "GET";
    c.url = url;
    c.has_headers = headers != nullptr;
    if (headers != nullptr) c.headers = headers;
    return static_cast<FakeIo *>(self)->play(std::move(c), out_body, out_status, out_error);
}

int32_t FakeIo::post(void *self, const char *url, const char *body, const char *headers,
                     char **out_body, int32_t *out_status, char **out_error) {
    Call c;
    c.method = "POST";
    c.url = url;
    c.body = body;
    c.has_headers = headers != nullptr;
    if (headers != nullptr) c.headers = headers;
    return static_cast<FakeIo *>(self)->play(std::move(c), out_body, out_status, out_error);
}

void FakeIo::free_buf(void *self, void *buf) {
    auto *io = static_cast<FakeIo *>(self);
    ++io->returned_;
    EXPECT_EQ(io->live_.erase(buf), 1U) << "buffer returned twice or unknown";
    free(buf);
}

}  // namespace tarn_test
