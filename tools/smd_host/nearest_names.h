#pragma once

#include <string>
#include <vector>

// The names among `candidates` closest to a misspelt `name`, by edit distance over characters
// (UTF-8 code points, so that one Chinese character counts once), closest first and at most
// `limit` of them. None when even the closest differs in more than a third of the characters.
std::vector<std::string> nearest_names(const std::string& name, const std::vector<std::string>& candidates,
                                       std::size_t limit = 3);

// "; nearest: A, B" for a misspelt `name`, or "" when no candidate is close.
std::string nearest_names_hint(const std::string& name, const std::vector<std::string>& candidates);
