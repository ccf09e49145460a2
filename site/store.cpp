#include "site/store.h"

namespace ringolan::site {

namespace {

// Keeps what it is shown.
class Collector : public TableVisitor {
public:
    explicit Collector(AccountData& data) : data_(data) {}
    void table(const std::string& name, const std::vector<std::string>& columns) override {
        data_.tables.push_back({name, columns, {}});
    }
    void row(const std::vector<StoredValueView>& values) override {
        auto& row = data_.tables.back().rows.emplace_back();
        row.reserve(values.size());
        for (const StoredValueView& v : values) row.push_back(v.held());
    }

private:
    AccountData& data_;
};

}  // namespace

AccountData SiteStore::read_all(const std::string& account) {
    AccountData data;
    Collector collector(data);
    data.version = read_each(account, collector);
    return data;
}

}  // namespace ringolan::site
