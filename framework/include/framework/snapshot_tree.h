#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

namespace framework {

// A device's JSON snapshot and where the values of its built members live. The first build
// inserts the members and keeps a slot for each value; later builds assign their values through
// the kept slots, in place, and a member keeps its kind from build to build.
//
// What a reader of the tree's address (taken without the device's lock) may rely on, once the
// first build has inserted the members and while only the device changes the tree: no member is
// removed and the tree is never replaced or cleared, so every value stays at its address. Numbers,
// flags and status words are assigned in place; status words and member names are held by
// address in the plug-in's static tables, valid while the plug-in is loaded. The round time is a
// text owned by the tree: the text a build replaces stays allocated until the following build, so
// a reader who took it while a build ran still reads live memory. A plain copy of the tree owns
// its values and its time and shares only the status words and member names.
//
// The address is handed out without const, so its holder may edit the tree. Before building in
// place, a build checks that the tree is still the one its slots describe: the addresses and
// names of the root's members and of the entries of its object members, in member order, as noted
// after the tree's own last change (a build or an insertion). An edited tree is dropped with its
// slots, released at the next build, and built anew as at the first build.
class SnapshotTree {
public:
    // The tree, to read in place.
    const Json::Value& root() const { return root_; }

    // The member `name`, inserted as null when missing (the look-ups of the rule evaluation).
    // Outside a build, an insertion into an edited tree drops the tree first.
    Json::Value& operator[](const std::string& name);

    // Changes whenever the tree may have: at every build and at every member inserted.
    std::uint64_t version() const { return version_; }

    // A build: begin_build(), then the build's values, each through its numbered slot, then
    // end_build(). Releases what the last build displaced, and drops the tree when it is not the
    // one noted after its last change.
    void begin_build();
    // Notes the tree as the build left it, when the build changed it.
    void end_build() {
        building_ = false;
        if (changed_) note_layout();
    }
    // The value kept as slot `slot`, or null when no build has kept one yet.
    Json::Value* kept(std::size_t slot) const { return slot < slots_.size() ? slots_[slot] : nullptr; }
    // Inserts the member `name` (of the object member `object` when not null) and keeps it as slot
    // `slot`. Neither text is copied: both must outlive the tree.
    Json::Value& keep(std::size_t slot, const char* object, const std::string& name);
    // Whether `value` is the member `name` of the root (of its object member `object` when not
    // null): what a debug build checks of each kept slot it writes.
    bool holds(const Json::Value& value, const char* object, const std::string& name) const;

    // Assigns a value to a slot in place: only the payload moves, and nothing at all when the slot
    // holds that value already (a number with the same bits, a text at the same address). A text
    // is held by address and must outlive the tree.
    static void assign(Json::Value& slot, double value);
    static void assign(Json::Value& slot, bool value);
    static void assign(Json::Value& slot, int value);
    static void assign_text(Json::Value& slot, const char* text);
    // Assigns a copy of `text`, owned by the slot, unless the slot holds that text already. The
    // slot's former value is released at the next build.
    void assign_owned_text(Json::Value& slot, const char* text);

    // The tree written as text, kept for the version it was written from: null once the tree has
    // changed since. A reader takes its own reference and may use it after the device's lock.
    std::shared_ptr<const std::string> kept_text() const {
        return text_version_ == version_ ? text_ : nullptr;
    }
    // Keeps `text`, written from the tree at `version`, unless the tree has changed meanwhile.
    void keep_text(std::shared_ptr<const std::string> text, std::uint64_t version) {
        if (version != version_) return;
        text_ = std::move(text);
        text_version_ = version;
    }
    // Hands the kept text over, for its holder to release after the device's lock: a build is
    // about to make it stale.
    std::shared_ptr<const std::string> take_text() { return std::move(text_); }

private:
    // Gives the slot the payload of `fresh`; the slot's former payload goes with `fresh`.
    static void move_payload(Json::Value& slot, Json::Value fresh) { slot.swapPayload(fresh); }

    // Calls `visit` with the address and the name of each member of the root and, after each
    // member that is an object, of its entries, closing them with null.
    template <typename Visit>
    void walk(Visit&& visit) const;
    void note_layout();
    bool intact() const;
    // Drops the slots and the tree; the tree is released at the next build.
    void drop();

    Json::Value root_;
    std::vector<Json::Value*> slots_;
    std::vector<const void*> layout_;   // what walk() visited after the tree's own last change
    std::vector<Json::Value> retired_;  // displaced since the last build began
    std::shared_ptr<const std::string> text_;
    std::uint64_t text_version_ = 0;
    std::uint64_t version_ = 0;
    bool building_ = false;  // the tree's own changes until end_build(): not noted one by one
    bool changed_ = false;   // members inserted, or looked up for an insertion, in this build
};

inline Json::Value& SnapshotTree::operator[](const std::string& name) {
    // In a build, the caller may insert into the member it finds.
    changed_ = changed_ || building_;
    if (root_.isObject() && root_.isMember(name)) return root_[name];
    if (!building_ && !intact()) drop();
    Json::Value& value = root_[name];
    ++version_;
    if (!building_) note_layout();
    return value;
}

inline void SnapshotTree::begin_build() {
    ++version_;
    retired_.clear();
    if (!intact()) drop();
    building_ = true;
    changed_ = false;
}

template <typename Visit>
void SnapshotTree::walk(Visit&& visit) const {
    if (!root_.isObject()) return;
    const char* end = nullptr;
    for (auto member = root_.begin(), members_end = root_.end(); member != members_end; ++member) {
        visit(&*member);
        visit(member.memberName(&end));
        if (!member->isObject()) continue;
        for (auto entry = member->begin(), entries_end = member->end(); entry != entries_end; ++entry) {
            visit(&*entry);
            visit(entry.memberName(&end));
        }
        visit(nullptr);
    }
}

inline void SnapshotTree::note_layout() {
    layout_.clear();
    walk([this](const void* at) { layout_.push_back(at); });
}

inline bool SnapshotTree::intact() const {
    if (!root_.isNull() && !root_.isObject()) return false;
    std::size_t seen = 0;
    bool same = true;
    walk([&](const void* at) {
        same = same && seen < layout_.size() && layout_[seen] == at;
        ++seen;
    });
    return same && seen == layout_.size();
}

inline void SnapshotTree::drop() {
    slots_.clear();
    layout_.clear();
    retired_.emplace_back();
    retired_.back().swapPayload(root_);
}

inline Json::Value& SnapshotTree::keep(std::size_t slot, const char* object, const std::string& name) {
    ++version_;
    changed_ = true;
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

inline void SnapshotTree::assign_owned_text(Json::Value& slot, const char* text) {
    const char* begin = nullptr;
    const char* end = nullptr;
    const std::size_t length = std::strlen(text);
    if (slot.type() == Json::stringValue && slot.getString(&begin, &end) &&
        static_cast<std::size_t>(end - begin) == length && std::memcmp(begin, text, length) == 0) {
        return;
    }
    retired_.emplace_back(text);
    slot.swapPayload(retired_.back());
}

inline bool SnapshotTree::holds(const Json::Value& value, const char* object, const std::string& name) const {
    const Json::Value* parent = &root_;
    if (object != nullptr) {
        parent = root_.isObject() ? root_.find(object, object + std::strlen(object)) : nullptr;
    }
    if (parent == nullptr || !parent->isObject()) return false;
    return parent->find(name.data(), name.data() + name.size()) == &value;
}

}  // namespace framework
