#include "site/accounts.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "common/ascii.h"
#include "common/error.h"
#include "common/number.h"

namespace ringolan::site {

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

std::string to_hex(const unsigned char* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

bool from_hex(std::string_view hex, std::vector<unsigned char>& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = text::hex_value(hex[i]), lo = text::hex_value(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

std::vector<unsigned char> derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  unsigned iterations) {
    std::vector<unsigned char> out(kHashBytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(out.size()), out.data()) != 1)
        throw Error("password hashing failed");
    return out;
}

struct ParsedHash {
    unsigned iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> hash;
};

bool parse_hash(std::string_view text, ParsedHash& out) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t d = text.find('$', start);
        fields.push_back(text.substr(start, d == std::string_view::npos ? std::string_view::npos : d - start));
        if (d == std::string_view::npos) break;
        start = d + 1;
    }
    if (fields.size() != 4 || fields[0] != kScheme) return false;
    const std::optional<unsigned> n = fields[1].size() > 9 ? std::nullopt : text::parse_number<unsigned>(fields[1]);
    if (!n || *n == 0) return false;
    out.iterations = *n;
    return from_hex(fields[2], out.salt) && !out.salt.empty() && from_hex(fields[3], out.hash) &&
           out.hash.size() == kHashBytes;
}

}  // namespace

bool valid_account_id(std::string_view id) {
    if (id.empty() || id.size() > 64 || id.front() == '.') return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

std::string hash_password(std::string_view password, unsigned iterations) {
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
        throw Error("no random bytes for the salt");
    const std::vector<unsigned char> hash = derive(password, salt, iterations);
    return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + to_hex(salt.data(), salt.size()) +
           "$" + to_hex(hash.data(), hash.size());
}

bool verify_password(std::string_view password, std::string_view hash) {
    ParsedHash parsed;
    if (!parse_hash(hash, parsed)) return false;
    const std::vector<unsigned char> got = derive(password, parsed.salt, parsed.iterations);
    return CRYPTO_memcmp(got.data(), parsed.hash.data(), kHashBytes) == 0;
}

Accounts Accounts::load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw AccountsError("cannot read the accounts file " + file.string());
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return parse(text.str());
    } catch (const AccountsError& e) {
        throw AccountsError(file.string() + ": " + e.what());
    }
}

Accounts Accounts::parse(std::string_view json_text) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(json_text);
    } catch (const nlohmann::json::exception& e) {
        throw AccountsError(std::string("not valid JSON: ") + e.what());
    }
    if (!doc.is_object() || !doc.contains("accounts") || !doc["accounts"].is_array())
        throw AccountsError("expected an object with an array \"accounts\"");
    Accounts result;
    std::size_t index = 0;
    for (const nlohmann::json& entry : doc["accounts"]) {
        ++index;
        const std::string where = "account " + std::to_string(index);
        if (!entry.is_object() || !entry.contains("id") || !entry["id"].is_string())
            throw AccountsError(where + ": missing text \"id\"");
        Account a;
        a.id = entry["id"].get<std::string>();
        if (!valid_account_id(a.id))
            throw AccountsError(where + ": the id \"" + a.id +
                                "\" must be 1 to 64 letters, digits, \".\", \"_\" or \"-\"");
        a.name = entry.contains("name") && entry["name"].is_string() ? entry["name"].get<std::string>() : a.id;
        if (!entry.contains("password") || !entry["password"].is_string())
            throw AccountsError(where + " (" + a.id + "): missing text \"password\"");
        a.password_hash = entry["password"].get<std::string>();
        ParsedHash check;
        if (!parse_hash(a.password_hash, check))
            throw AccountsError(where + " (" + a.id + "): \"password\" is not a hash made by --hash-password");
        if (result.accounts_.contains(a.id)) throw AccountsError(where + ": the id \"" + a.id + "\" is repeated");
        result.accounts_.emplace(a.id, std::move(a));
    }
    return result;
}

const Account* Accounts::find(std::string_view id) const {
    auto it = accounts_.find(id);
    return it == accounts_.end() ? nullptr : &it->second;
}

}  // namespace ringolan::site
