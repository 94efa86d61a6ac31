#pragma once

#include <string>
#include <string_view>
#include <vector>

// A list of ids as a user types it: ids and ranges parted by commas, "1-8" or "1,3,5-7". The ids
// come back in increasing order. Throws std::invalid_argument, naming the part at fault, for an
// empty part, an id outside `first` to `last`, a range that runs backwards, or an id given twice.
std::vector<int> parse_id_list(std::string_view text, int first, int last);

// The ids as parse_id_list reads them, runs of three or more written as ranges: "1-3,5".
std::string id_list_text(const std::vector<int>& ids);
