#include "site/credential_cache.h"

#include <openssl/evp.h>

#include "common/error.h"
#include "site/accounts.h"

namespace ringolan::site {

CredentialCache::Key CredentialCache::key_of(std::string_view account, std::string_view password,
                                             std::string_view hash) const {
    Key key{};
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) throw Error("out of memory");
    // Each part is preceded by its length so that no two triples give the same input.
    bool ok = EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    for (const std::string_view part : {account, password, hash}) {
        const std::uint64_t n = part.size();
        ok = ok && EVP_DigestUpdate(ctx, &n, sizeof n) == 1 && EVP_DigestUpdate(ctx, part.data(), part.size()) == 1;
    }
    unsigned int size = 0;
    ok = ok && EVP_DigestFinal_ex(ctx, key.data(), &size) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok || size != key.size()) throw Error("SHA-256 failed");
    return key;
}

bool CredentialCache::verify(std::string_view account, std::string_view password, std::string_view hash) {
    const Key key = key_of(account, password, hash);
    const auto now = Clock::now();
    {
        std::lock_guard guard(mutex_);
        if (const auto it = verified_.find(key); it != verified_.end()) {
            if (now - it->second < lifetime_) return true;
            verified_.erase(it);
        }
    }
    if (!verify_password(password, hash)) return false;
    std::lock_guard guard(mutex_);
    if (verified_.size() >= capacity_) {
        for (auto it = verified_.begin(); it != verified_.end();)
            it = now - it->second >= lifetime_ ? verified_.erase(it) : std::next(it);
        if (verified_.size() >= capacity_) verified_.clear();
    }
    verified_[key] = now;
    return true;
}

}  // namespace ringolan::site
