#include "upload/site_addresses.h"

#include "upload/http_address.h"

namespace ringolan::upload {

std::string delete_address(std::string_view base, std::string_view id, std::string_view password) {
    return build_address(base, "/ergebnisse/loeschen.php", {{"id", id}, {"pw", password}});
}

std::string upload_address(std::string_view base, std::string_view id) {
    return build_address(base, "/ergebnisse/5.php", {{"id", id}});
}

std::string insert_address(std::string_view base, std::string_view id, std::string_view password) {
    return build_address(base, "/ergebnisse/einfuegen.php", {{"id", id}, {"pw", password}});
}

std::string count_address(std::string_view base, std::string_view id, std::string_view table) {
    return build_address(base, "/ergebnisse/anzahl.php", {{"id", id}, {"tabelle", table}});
}

}  // namespace ringolan::upload
