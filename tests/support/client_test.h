// Base fixture: a fresh client on a recording fake transport, with the
// settings every test expects and nothing left behind for the next one.
#pragma once

#include <gtest/gtest.h>

#include "support/fake_io.h"
#include "tarn_client.h"

namespace tarn_test {

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset_settings();
        tarn_client_set_host("http://h");
        io_.install();
    }
    void TearDown() override {
        tarn_client_cleanup();
        reset_settings();
    }
    static void reset_settings() {
        tarn_client_set_host(nullptr);
        tarn_client_set_password(nullptr);
        tarn_client_set_jwt(nullptr);
    }

    FakeIo io_;
};

}  // namespace tarn_test
