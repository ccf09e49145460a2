#include "db/jet/header.h"

#include <cstring>
#include <utility>

namespace ringolan::jet {
namespace {
constexpr uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
}

void rc4_apply(std::span<const uint8_t> key, std::span<uint8_t> data) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    int i = 0, j = 0;
    for (auto& b : data) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        b ^= s[(s[i] + s[j]) & 0xFF];
    }
}

void write_header_page(Page& page, double creation_date) {
    page.fill(0);
    uint8_t* p = page.data();
    p[1] = 0x01;
    std::memcpy(p + kHeaderSignature, kJetSignature, sizeof kJetSignature);  // with its terminating zero
    p[kHeaderVersion] = kJetVersion4;
    put_u16(p + kHeaderCodePage, 1252);
    put_u32(p + kHeaderDatabaseKey, 0);  // pages are not encoded
    // The password field is XORed with the creation date's whole part; storing the mask means "none".
    const int32_t mask = int32_t(creation_date);
    for (int i = 0; i < 40; i += 4) put_u32(p + kHeaderPassword + i, uint32_t(mask));
    put_u16(p + kHeaderSortOrder, 0x0409);  // General sort order
    put_f64(p + kHeaderCreated, creation_date);
    rc4_apply(kHeaderKey, std::span<uint8_t>(p + kHeaderMaskStart, kHeaderMaskLength));
}

void unmask_header_page(Page& page) {
    rc4_apply(kHeaderKey, std::span<uint8_t>(page.data() + kHeaderMaskStart, kHeaderMaskLength));
}

}  // namespace ringolan::jet
