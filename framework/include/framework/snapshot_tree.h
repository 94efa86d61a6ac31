#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <json/value.h>

// A device's JSON snapshot and where the values of its built members live. The tree is owned
// here and only grows: members are added, never removed, and the tree is never replaced or
// cleared, so a slot kept at the first build stays the member's value for the device's life.
//
// Later builds assign their values through the kept slots, in place, and a member keeps its kind
// from build to build. Keys and texts of built members point to storage that outlives the tree
// (shared names, status words, the tree's own time buffer), so a rebuild frees nothing: a reader who
// holds the tree's address sees values of two builds at worst, never freed memory.
class SnapshotTree {
public:
    // The tree, to read in place. A plain copy of it still holds the round time by address: keep
    // a detached_copy() instead.
    const Json::Value& root() const { return root_; }

    // The member `name`, inserted as null when missing (the look-ups of the rule evaluation).
    Json::Value& operator[](const std::string& name);

    // Changes whenever the tree may have: at every build and at every member inserted.
    std::uint64_t version() const { return version_; }

    // A build: begin_build(), then the build's values slot by slot in build order.
    void begin_build() { ++version_; }
    // The value kept as slot `slot`, or null when no build has kept one yet.
    Json::Value* kept(std::size_t slot) const { return slot < slots_.size() ? slots_[slot] : nullptr; }
    // Inserts the member `name` (of the object member `object` when not null) and keeps it as slot
    // `slot`. Neither text is copied: both must outlive the tree.
    Json::Value& keep(std::size_t slot, const char* object, const std::string& name);

    // Assigns a value to a slot in place: only the payload moves, and nothing at all when the slot
    // holds that value already (a number with the same bits, a text at the same address). A text
    // is held by address and must outlive the tree.
    static void assign(Json::Value& slot, double value);
    static void assign(Json::Value& slot, bool value);
    static void assign(Json::Value& slot, int value);
    static void assign_text(Json::Value& slot, const char* text);

    // Writes the text member kept as slot `slot` (inserted under `name` as keep() does) with
    // `text` copied into a buffer of the tree, which the member holds by address: the round time.
    // The buffer is written in place and its last byte stays 0, so a reader always finds the
    // text's end.
    void write_buffered_text(std::size_t slot, const std::string& name, const char* text);

    // A copy of the tree that owns its texts, to keep beyond the next build or the device.
    Json::Value detached_copy() const;

private:
    // Gives the slot the payload of `fresh`; the slot's former payload goes with `fresh`.
    static void move_payload(Json::Value& slot, Json::Value fresh) { slot.swapPayload(fresh); }

    char buffer_[32] = {};
    const std::string* buffered_name_ = nullptr;  // the member that holds buffer_
    Json::Value root_;
    std::vector<Json::Value*> slots_;
    std::uint64_t version_ = 0;
};

inline Json::Value& SnapshotTree::operator[](const std::string& name) {
    const Json::ArrayIndex members = root_.size();
    Json::Value& value = root_[name];
    if (root_.size() != members) ++version_;
    return value;
}

inline Json::Value& SnapshotTree::keep(std::size_t slot, const char* object, const std::string& name) {
    ++version_;
    Json::Value& parent = object != nullptr ? root_[Json::StaticString(object)] : root_;
    Json::Value& value = parent[Json::StaticString(name.c_str())];
    if (slots_.size() <= slot) slots_.resize(slot + 1, nullptr);
    slots_[slot] = &value;
    return value;
}

inline void SnapshotTree::assign(Json::Value& slot, double value) {
    if (slot.type() == Json::realValue) {
        const double held = slot.asDouble();
        if (std::memcmp(&held, &value, sizeof value) == 0) return;
    }
    move_payload(slot, Json::Value(value));
}

inline void SnapshotTree::assign(Json::Value& slot, bool value) {
    if (slot.type() == Json::booleanValue && slot.asBool() == value) return;
    move_payload(slot, Json::Value(value));
}

inline void SnapshotTree::assign(Json::Value& slot, int value) {
    if (slot.type() == Json::intValue && slot.asInt() == value) return;
    move_payload(slot, Json::Value(value));
}

inline void SnapshotTree::assign_text(Json::Value& slot, const char* text) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (slot.type() == Json::stringValue && slot.getString(&begin, &end) && begin == text) return;
    move_payload(slot, Json::Value(Json::StaticString(text)));
}

inline void SnapshotTree::write_buffered_text(std::size_t slot, const std::string& name, const char* text) {
    const std::size_t length = std::min(std::strlen(text), sizeof buffer_ - 1);
    std::memcpy(buffer_, text, length);
    buffer_[length] = '\0';
    Json::Value* value = kept(slot);
    if (value == nullptr) value = &keep(slot, nullptr, name);
    assign_text(*value, buffer_);
    buffered_name_ = &name;
}

inline Json::Value SnapshotTree::detached_copy() const {
    Json::Value copy = root_;
    if (buffered_name_ != nullptr) copy[*buffered_name_] = std::string(buffer_);
    return copy;
}
