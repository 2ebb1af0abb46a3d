// A recording fake transport: captures every request the core sends, plays
// scripted outcomes back, and counts the buffers it hands out and gets back.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "tarn_client.h"

namespace tarn_test {

struct Call {
    std::string method;  // "GET" or "POST"
    std::string url;
    bool has_headers = false;  // false: the core passed a null header block
    std::string headers;
    std::string body;  // POST only
};

struct Outcome {
    int32_t rc = 0;
    int32_t status = 200;
    bool has_body = true;
    std::string body;
    bool has_error = false;
    std::string error;
};

Outcome reply(int32_t status, std::string body);
Outcome failure(std::string message, bool has_message = true);

class FakeIo {
public:
    // with_free_slot false: buffers come from malloc and the table's free
    // slot is null, so the core must release them with free().
    explicit FakeIo(bool with_free_slot = true);
    ~FakeIo();
    FakeIo(const FakeIo &) = delete;
    FakeIo &operator=(const FakeIo &) = delete;

    // Installs this fake as the client's transport.
    void install() const { tarn_client_set_io(&table_); }
    const tarn_client_io *table() const { return &table_; }

    // Outcomes are played in order; once they run out, 200 with "{}".
    void push(Outcome o) { script_.push_back(std::move(o)); }

    const std::vector<Call> &calls() const { return calls_; }
    const Call &last() const { return calls_.back(); }
    void clear_calls() { calls_.clear(); }

    int handed_out() const { return handed_out_; }
    int returned() const { return returned_; }
    int outstanding() const { return static_cast<int>(live_.size()); }

private:
    static int32_t get(void *self, const char *url, const char *headers, char **out_body,
                       int32_t *out_status, char **out_error);
    static int32_t post(void *self, const char *url, const char *body, const char *headers,
                        char **out_body, int32_t *out_status, char **out_error);
    static void free_buf(void *self, void *buf);

    int32_t play(Call call, char **out_body, int32_t *out_status, char **out_error);
    char *hand_out(const std::string &text);

    tarn_client_io table_{};
    std::deque<Outcome> script_;
    std::vector<Call> calls_;
    std::set<void *> live_;
    int handed_out_ = 0;
    int returned_ = 0;
};

}  // namespace tarn_test
