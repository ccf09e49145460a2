// The four addresses of the publishing site that an upload run uses, below "/ergebnisse/" of
// the site's base address, with every query value percent-encoded.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::upload {

// Deletes the account's data; the site answers "0" when the password is right.
std::string delete_address(std::string_view base, std::string_view id, std::string_view password);
// Receives one table's gzip file as a multipart POST.
std::string upload_address(std::string_view base, std::string_view id);
// Loads the received file into the account's data.
std::string insert_address(std::string_view base, std::string_view id, std::string_view password);
// Answers the number of rows of the table that the site holds for the account.
std::string count_address(std::string_view base, std::string_view id, std::string_view table);

}  // namespace ringolan::upload
