// Site accounts from a JSON file:
//   {"accounts": [{"id": "club1", "name": "SV Beispiel", "password": "pbkdf2-sha256$..."}]}
// Passwords are kept as salted PBKDF2-HMAC-SHA256 hashes of their Windows-1252 bytes (the
// bytes an upload sends); `ringolan-site --hash-password` makes one.
#pragma once

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/error.h"

namespace ringolan::site {

class AccountsError : public Error {
public:
    using Error::Error;
};

struct Account {
    std::string id;             // letters, digits, ".", "_" and "-"; names the account's folder
    std::string name;           // shown on the pages; the id when not given
    std::string password_hash;  // "pbkdf2-sha256$" iterations "$" salt hex "$" hash hex
};

inline constexpr unsigned kDefaultHashIterations = 100000;

// A new hash of `password` (bytes as sent) with a random salt.
std::string hash_password(std::string_view password, unsigned iterations = kDefaultHashIterations);

// True when `password` matches `hash`; false for a malformed hash.
bool verify_password(std::string_view password, std::string_view hash);

class Accounts {
public:
    // Throws AccountsError naming the problem (unreadable file, bad JSON, a bad or repeated id,
    // a missing or malformed password hash).
    static Accounts load(const std::filesystem::path& file);
    static Accounts parse(std::string_view json_text);

    const Account* find(std::string_view id) const;
    const std::map<std::string, Account, std::less<>>& all() const { return accounts_; }

private:
    std::map<std::string, Account, std::less<>> accounts_;
};

// True for an id that may name an account: 1 to 64 letters, digits, ".", "_" or "-",
// not starting with ".".
bool valid_account_id(std::string_view id);

}  // namespace ringolan::site
