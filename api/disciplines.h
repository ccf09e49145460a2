// The discipline of a result list, derived from its title: lists carry no discipline of their
// own, their titles start with one ("Luftgewehr 40 Schuss - Damenklasse").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/snapshot/snapshot.h"

namespace ringolan::api {

// wettk.Bezeichnung of every discipline (Windows-1252); none when the file has no wettk.
std::vector<std::string> discipline_names(const db::Snapshot& snapshot);

// The longest name that begins the title (letter case counts); else the title's text before
// its first " - "; else the whole title.
std::string discipline_of(std::string_view title, const std::vector<std::string>& names);

}  // namespace ringolan::api
