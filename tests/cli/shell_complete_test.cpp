// Tab completion over a recorded object tree: what each place in a line
// offers, and that each tree node is read once until \refresh.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/shell_complete.h"

namespace tarn_test {
namespace {

using tarn_cli::Catalog;
using tarn_cli::TreeReader;

class RecordedTree : public TreeReader {
public:
    bool names(const std::string &server, const std::string &kind, const std::string &db,
               const std::string &obj, std::vector<std::string> *out) override {
        std::string key = server + "|" + kind + "|" + db + "|" + obj;
        ++reads[key];
        auto it = nodes.find(key);
        *out = it != nodes.end() ? it->second : std::vector<std::string>{};
        return it != nodes.end();
    }
    std::map<std::string, std::vector<std::string>> nodes = {
        {"||||servers", {}},
        {"|servers||", {"local", "remote"}},
        {"local|databases||", {"shop", "stock"}},
        {"local|tables|shop|", {"customers", "order_lines", "orders"}},
        {"local|views|shop|", {"order_totals"}},
        {"local|columns|shop|orders", {"id", "customer_id", "ordered", "status"}},
        {"local|columns|shop|customers", {"id", "name", "city"}},
    };
    std::map<std::string, int> reads;
};

std::vector<std::string> offered(Catalog &catalog, const std::string &text) {
    // "|" marks the cursor; without one it stands at the end.
    size_t cursor = text.find('|');
    std::string plain = text;
    if (cursor == std::string::npos)
        cursor = text.size();
    else
        plain.erase(cursor, 1);
    return tarn_cli::complete(plain, cursor, "local", "shop", catalog).candidates;
}

TEST(ShellComplete, EachPlaceOffersWhatFitsThere) {
    using V = std::vector<std::string>;
    struct Case {
        const char *text;
        V want;
    } cases[] = {
        {"select * from ord", {"order_lines", "order_totals", "orders"}},
        {"select * from orders o join cu", {"customers"}},
        {"SELECT * FROM Cus", {"customers"}},
        // Columns first among the names, with tables that may qualify them.
        {"select * from orders where cust", {"customer_id", "customers"}},
        {"select * from orders where customer_", {"customer_id"}},
        {"select * from orders -- cu", {}},
        {"select cu| from orders", {"customer_id", "customers"}},
        {"select na| from customers c, orders o", {"name"}},
        {"select * from orders\nwhere st", {"status"}},
        {"sel", {"select"}},
        {"SEL", {"SELECT"}},
        {"select 'ord", {}},
        {"\\d", {"\\d", "\\di", "\\dt", "\\dv"}},
        {"  \\ti", {"\\timing"}},
        {"\\d ord", {"order_lines", "order_totals", "orders"}},
        {"\\c ", {"local", "remote"}},
        {"\\c local s", {"shop", "stock"}},
        {"\\x a", {"auto"}},
        {"\\format t", {"table", "tsv"}},
        {"\\i ord", {}},
    };
    RecordedTree tree;
    Catalog catalog(tree);
    for (const auto &c : cases) EXPECT_EQ(offered(catalog, c.text), c.want) << c.text;
}

TEST(ShellComplete, WordStartIsWhereTheReplacementGoes) {
    RecordedTree tree;
    Catalog catalog(tree);
    EXPECT_EQ(tarn_cli::complete("select * from ord", 17, "local", "shop", catalog).word_start,
              14U);
    EXPECT_EQ(tarn_cli::complete("\\dt", 3, "local", "shop", catalog).word_start, 0U);
    EXPECT_EQ(tarn_cli::common_prefix({"order_lines", "orders", "order_totals"}), "order");
    EXPECT_EQ(tarn_cli::common_prefix({}), "");
}

TEST(ShellComplete, TreeNodesAreReadOnceUntilDropped) {
    RecordedTree tree;
    Catalog catalog(tree);
    for (int i = 0; i < 3; ++i) offered(catalog, "select cu| from orders, customers");
    EXPECT_EQ(tree.reads["local|tables|shop|"], 1);
    EXPECT_EQ(tree.reads["local|views|shop|"], 1);
    EXPECT_EQ(tree.reads["local|columns|shop|orders"], 1);
    EXPECT_EQ(tree.reads["local|columns|shop|customers"], 1);
    catalog.drop();
    offered(catalog, "select * from o");
    EXPECT_EQ(tree.reads["local|tables|shop|"], 2);
    // A table that the tree does not know is asked for no columns.
    offered(catalog, "select x| from nowhere");
    EXPECT_EQ(tree.reads.count("local|columns|shop|nowhere"), 0U);
}

}  // namespace
}  // namespace tarn_test
