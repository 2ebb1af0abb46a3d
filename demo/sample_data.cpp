// The sample "shop" database: a few thousand rows from a fixed seed.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "db.h"

namespace demo {
namespace {

constexpr int kCustomers = 400;
constexpr int kProducts = 120;
constexpr int kOrders = 2000;

const char *const kSchema = R"sql(
PRAGMA journal_mode = WAL;
CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  email TEXT NOT NULL UNIQUE,
  city TEXT NOT NULL,
  joined TEXT NOT NULL
);
CREATE TABLE products (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  category TEXT NOT NULL,
  price REAL NOT NULL CHECK (price >= 0),
  stock INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers(id),
  ordered TEXT NOT NULL,
  status TEXT NOT NULL
);
CREATE TABLE order_lines (
  order_id INTEGER NOT NULL REFERENCES orders(id),
  line INTEGER NOT NULL,
  product_id INTEGER NOT NULL REFERENCES products(id),
  quantity INTEGER NOT NULL CHECK (quantity > 0),
  unit_price REAL NOT NULL,
  PRIMARY KEY (order_id, line)
);
CREATE INDEX orders_by_customer ON orders(customer_id);
CREATE INDEX order_lines_by_product ON order_lines(product_id);
CREATE VIEW order_totals AS
  SELECT o.id AS order_id, c.name AS customer, o.ordered, o.status,
         round(sum(l.quantity * l.unit_price), 2) AS total
  FROM orders o
  JOIN customers c ON c.id = o.customer_id
  JOIN order_lines l ON l.order_id = o.id
  GROUP BY o.id;
)sql";

const char *const kFirst[] = {"Ada",  "Bruno", "Chen", "Dana", "Emil", "Farah", "Gus",  "Hana",
                              "Ivan", "Jade",  "Kofi", "Lena", "Milo", "Nora",  "Omar", "Pia"};
const char *const kLast[] = {"Berg", "Costa", "Dietz", "Evans", "Fujii",  "Garcia", "Holm",
                             "Ito",  "Jones", "Kaur",  "Lund",  "Moreau", "Novak",  "Okafor"};
const char *const kCities[] = {"Lisbon", "Oslo", "Lyon", "Kyoto", "Austin", "Lagos", "Perth"};
const char *const kCategories[] = {"tea", "coffee", "books", "garden", "tools", "games"};
const char *const kAdjectives[] = {"Small", "Large", "Classic", "Green", "Quiet", "Bright"};
const char *const kStatuses[] = {"new", "paid", "shipped", "delivered", "returned"};

// A fixed linear congruential sequence: the same database on every machine.
struct Rng {
    uint64_t state = 20240611;
    uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state >> 33);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
};

template <size_t N>
const char *pick(Rng &r, const char *const (&list)[N]) {
    return list[r.below(static_cast<int>(N))];
}

std::string date(int day) {  // day 0 is 2024-01-01; months of 28 days keep it simple
    char buf[16];
    snprintf(buf, sizeof buf, "2024-%02d-%02d", day / 28 % 12 + 1, day % 28 + 1);
    return buf;
}

class Insert {
public:
    Insert(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Insert() { sqlite3_finalize(stmt_); }
    Insert(const Insert &) = delete;
    Insert &operator=(const Insert &) = delete;
    Insert &text(int i, const std::string &v) {
        sqlite3_bind_text(stmt_, i, v.c_str(), -1, SQLITE_TRANSIENT);
        return *this;
    }
    Insert &integer(int i, long long v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Insert &real(int i, double v) {
        sqlite3_bind_double(stmt_, i, v);
        return *this;
    }
    bool run() {
        bool ok = stmt_ != nullptr && sqlite3_step(stmt_) == SQLITE_DONE;
        sqlite3_reset(stmt_);
        return ok;
    }

private:
    sqlite3_stmt *stmt_ = nullptr;
};

bool fill(sqlite3 *db) {
    Rng r;
    bool ok = true;
    Insert cust(db, "INSERT INTO customers VALUES (?1, ?2, ?3, ?4, ?5)");
    for (int i = 1; i <= kCustomers; ++i) {
        std::string first = pick(r, kFirst);
        std::string last = pick(r, kLast);
        std::string email = first;
        email.append(".").append(last).append(std::to_string(i)).append("@example.com");
        for (char &c : email) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        ok = ok && cust.integer(1, i)
                       .text(2, first.append(" ").append(last))
                       .text(3, email)
                       .text(4, pick(r, kCities))
                       .text(5, date(r.below(300)))
                       .run();
    }
    Insert prod(db, "INSERT INTO products VALUES (?1, ?2, ?3, ?4, ?5)");
    std::vector<double> prices(kProducts + 1);
    for (int i = 1; i <= kProducts; ++i) {
        std::string cat = pick(r, kCategories);
        prices[i] = (199 + r.below(9800)) / 100.0;
        ok = ok &&
             prod.integer(1, i)
                 .text(2, std::string(pick(r, kAdjectives)) + " " + cat + " " + std::to_string(i))
                 .text(3, cat)
                 .real(4, prices[i])
                 .integer(5, r.below(200))
                 .run();
    }
    Insert ord(db, "INSERT INTO orders VALUES (?1, ?2, ?3, ?4)");
    Insert line(db, "INSERT INTO order_lines VALUES (?1, ?2, ?3, ?4, ?5)");
    for (int i = 1; i <= kOrders; ++i) {
        ok = ok && ord.integer(1, i)
                       .integer(2, 1 + r.below(kCustomers))
                       .text(3, date(i * 336 / kOrders))
                       .text(4, pick(r, kStatuses))
                       .run();
        int lines = 1 + r.below(5);
        for (int l = 1; l <= lines; ++l) {
            int p = 1 + r.below(kProducts);
            ok = ok && line.integer(1, i)
                           .integer(2, l)
                           .integer(3, p)
                           .integer(4, 1 + r.below(4))
                           .real(5, prices[p])
                           .run();
        }
    }
    return ok;
}

}  // namespace

bool create_sample_db(const std::string &data_dir, std::string &err) {
    std::string path = db_path(data_dir, "shop");
    std::string tmp = path + ".new";
    unlink(tmp.c_str());
    {
        Conn c;
        bool opened = c.open(tmp, err, true);
        if (opened) c.trust();
        if (!opened || !c.exec(kSchema, err) || !c.exec("BEGIN", err)) {
            unlink(tmp.c_str());
            return false;
        }
        if (!fill(c.get())) {
            err = std::string("filling the sample database: ") + sqlite3_errmsg(c.get());
            std::string ignored;
            c.exec("ROLLBACK", ignored);
            unlink(tmp.c_str());
            return false;
        }
        if (!c.exec("COMMIT; PRAGMA wal_checkpoint(TRUNCATE);", err)) {
            unlink(tmp.c_str());
            return false;
        }
    }
    // Closing the last connection removed the write-ahead log; the rename
    // makes the database appear whole or not at all.
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        err = "cannot move the sample database into place";
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace demo
