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

// The same search over a fixed set of candidates asked many times (a configuration with thousands
// of names): the candidates are decoded once, and those whose length alone puts them too far are
// passed over.
class NearestNames {
public:
    explicit NearestNames(std::vector<std::string> candidates);
    std::vector<std::string> find(const std::string& name, std::size_t limit = 3) const;
    std::string hint(const std::string& name) const;

private:
    std::vector<std::string> names_;
    std::vector<std::u32string> decoded_;
};
