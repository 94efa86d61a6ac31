#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <json/value.h>

#include "framework/snapshot_text.h"

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
// text owned by the tree; a build writes it over a text of the same length the tree already owns,
// and the tree frees none of its round-time texts while it lives, so a reader holding one reads
// live memory however many builds complete meanwhile (it may see a time torn between two rounds).
// A plain copy of the tree owns its values and its time and shares only the status words and
// member names.
//
// The address is handed out without const (hand_out()), so its holder may edit the tree. Until it
// has been handed out, only the device changes the tree and no build checks it. From then on, a
// build first checks that every member and entry the tree held after its own last structural
// change is still there, at its address, under the same name text and of the same kind; members
// the rules' look-ups or the holder added since are passed over. A tree that fails the check is
// dropped with its slots, released at the next build, and built anew as at the first build.
class SnapshotTree {
public:
    // The tree, to read in place.
    const Json::Value& root() const { return root_; }
    // The tree, for a holder that reads it without the device's lock and may edit it. From the
    // first call on, every build checks the tree before it writes through its slots.
    Json::Value* hand_out() {
        if (!handed_out_) {
            handed_out_ = true;
            note_layout();
        }
        return &root_;
    }

    // The member `name`, inserted as null when missing (the look-ups of the rule evaluation).
    // An insertion costs one search of the members: it leaves every slot in place.
    Json::Value& operator[](const std::string& name);

    // Changes whenever the tree may have: at every build and at every member inserted.
    std::uint64_t version() const { return version_; }

    // A build: begin_build(), then the build's values, each through its numbered slot, then
    // end_build(). Releases what the last build displaced, and drops a handed-out tree that its
    // holder has edited.
    void begin_build();
    // Notes the tree as the build left it, when the build inserted members and the tree has been
    // handed out.
    void end_build() {
        if (changed_ && handed_out_) note_layout();
    }
    // Makes room for `count` slots at once, so that the first build does not grow them step by step.
    void reserve_slots(std::size_t count) { slots_.reserve(count); }
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
    // Assigns the round time `text`, owned by the tree, unless the slot holds that text already: the
    // bytes are written over the text the slot holds when it has the same length, else the slot
    // takes the tree's text of that length (made once) and the one it held goes back to the tree.
    void assign_time_text(Json::Value& slot, const char* text);

    // The tree written as text, kept for the version it was written from: null once the tree has
    // changed since. A reader takes its own reference and may use it after the device's lock.
    std::shared_ptr<const SnapshotText> kept_text() const {
        return text_version_ == version_ ? text_ : nullptr;
    }
    // Keeps `text`, written from the tree at `version`, unless the tree has changed meanwhile.
    void keep_text(std::shared_ptr<const SnapshotText> text, std::uint64_t version) {
        if (version != version_) return;
        text_ = std::move(text);
        text_version_ = version;
    }
    // Hands the kept text over, for its holder to release after the device's lock: a build is
    // about to make it stale.
    std::shared_ptr<const SnapshotText> take_text() { return std::move(text_); }

private:
    // A member or an entry as the check compares it; all null closes the entries of an object.
    struct Node {
        const Json::Value* value;
        const char* name;
        bool object;  // its entries follow it
    };

    // The members of an object value are nodes of the library's member map (a std::map): where a
    // node's name and value lie from the node's start, as the standard library places them.
    struct MapLayout {
        std::ptrdiff_t entry;  // the (name, value) pair
        std::ptrdiff_t value;
        MapLayout();
    };
    static const MapLayout& map_layout() {
        static const MapLayout layout;
        return layout;
    }
    // Calls `visit(value, name)` for each member of `object` in member order until it returns false;
    // false when it did. `direct` walks the map's nodes themselves, which costs a fraction of the
    // library's iterators, and is used only once it has been seen to visit what they visit.
    template <typename Visit>
    static bool each_member(const Json::Value& object, bool direct, Visit&& visit);

    // Gives the slot the payload of `fresh`; the slot's former payload goes with `fresh`.
    static void move_payload(Json::Value& slot, Json::Value fresh) { slot.swapPayload(fresh); }

    void note_layout();
    bool intact() const;
    // Drops the slots and the tree; the tree is released at the next build.
    void drop();

    // Locks: none of its own; the device's json_mutex_ guards every member.
    Json::Value root_;
    std::vector<Json::Value*> slots_;
    // The members of the root and the entries of its object members, in member order, as they were
    // after the tree's own last structural change; kept only once the tree has been handed out.
    std::vector<Node> layout_;
    bool direct_walk_ = false;  // each_member() may walk the map's nodes: seen to match at the last note
    // The round-time texts the tree owns and the slot does not hold: one of each length so far.
    std::vector<Json::Value> time_texts_;
    const char* placed_time_ = nullptr;  // the characters of the round-time text the slot holds
    std::vector<Json::Value> retired_;   // displaced since the last build began
    std::shared_ptr<const SnapshotText> text_;
    std::uint64_t text_version_ = 0;
    std::uint64_t version_ = 0;
    bool handed_out_ = false;
    bool changed_ = false;  // slots kept, so members or entries inserted, in this build
};

inline Json::Value& SnapshotTree::operator[](const std::string& name) {
    if (root_.isObject()) {
        // The library finds without inserting only through const; the member is the tree's own.
        const Json::Value* found = root_.find(name.data(), name.data() + name.size());
        if (found != nullptr) return const_cast<Json::Value&>(*found);
    } else if (!root_.isNull()) {
        drop();  // a holder replaced the tree by a value without members
    }
    ++version_;
    return root_[name];
}

inline void SnapshotTree::begin_build() {
    ++version_;
    retired_.clear();
    if (handed_out_ && !intact()) drop();
    changed_ = false;
}

inline SnapshotTree::MapLayout::MapLayout() {
    Json::Value::ObjectValues probe;
    const auto at = probe.emplace(Json::Value::ObjectValues::key_type(0u), Json::Value()).first;
    const auto* node = reinterpret_cast<const char*>(at._M_node);
    entry = reinterpret_cast<const char*>(&*at) - node;
    value = reinterpret_cast<const char*>(&at->second) - node;
}

template <typename Visit>
bool SnapshotTree::each_member(const Json::Value& object, bool direct, Visit&& visit) {
    if (!direct) {
        const char* end = nullptr;
        for (auto at = object.begin(), members_end = object.end(); at != members_end; ++at) {
            if (!visit(&*at, at.memberName(&end))) return false;
        }
        return true;
    }
    using Entry = Json::Value::ObjectValues::value_type;
    const MapLayout& layout = map_layout();
    std::size_t left = object.size();
    if (left == 0) return true;
    auto node = reinterpret_cast<const std::_Rb_tree_node_base*>(
        reinterpret_cast<const char*>(&*object.begin()) - layout.value);
    for (;; node = std::_Rb_tree_increment(node)) {
        const char* at = reinterpret_cast<const char*>(node);
        // The name's characters are the first field of the library's key (read as data() returns
        // them, without a call per node).
        if (!visit(reinterpret_cast<const Json::Value*>(at + layout.value),
                   *reinterpret_cast<const char* const*>(
                       &reinterpret_cast<const Entry*>(at + layout.entry)->first))) {
            return false;
        }
        if (--left == 0) return true;
    }
}

// Notes the tree through the library's iterators, then walks it once more over the map's nodes:
// the check walks the nodes only while that walk visits exactly what the iterators visited.
inline void SnapshotTree::note_layout() {
    layout_.clear();
    direct_walk_ = false;
    if (!root_.isObject()) return;
    each_member(root_, false, [this](const Json::Value* member, const char* name) {
        layout_.push_back(Node{member, name, member->isObject()});
        if (!member->isObject()) return true;
        each_member(*member, false, [this](const Json::Value* entry, const char* entry_name) {
            layout_.push_back(Node{entry, entry_name, false});
            return true;
        });
        layout_.push_back(Node{nullptr, nullptr, false});
        return true;
    });
    std::size_t at = 0;
    auto same = [&](const Json::Value* value, const char* name) {
        const bool matches = at < layout_.size() && layout_[at].value == value && layout_[at].name == name;
        ++at;
        return matches;
    };
    direct_walk_ = each_member(root_, true,
                               [&](const Json::Value* member, const char* name) {
                                   if (!same(member, name)) return false;
                                   if (!layout_[at - 1].object) return true;
                                   return each_member(*member, true, same) && same(nullptr, nullptr);
                               }) &&
                   at == layout_.size();
}

// One pass in member order: each noted node must come up in turn, and an object member that comes
// up must still be an object and hold its noted entries, in turn, before its closing mark. A node
// at the noted address under the noted name text is the one the slot points to, or one in its
// place that the slot may be written through all the same (a value of another kind is assigned
// over). Members and entries added since are passed over, with whatever they hold.
inline bool SnapshotTree::intact() const {
    if (root_.isNull()) return layout_.empty();
    if (!root_.isObject()) return false;
    if (layout_.empty()) return slots_.empty() && root_.empty();
    const std::size_t noted = layout_.size();
    std::size_t at = 0;
    bool whole = true;
    each_member(root_, direct_walk_, [&](const Json::Value* member, const char* name) {
        if (at == noted) return false;
        const Node& expected = layout_[at];
        if (expected.value != member || expected.name != name) return true;
        ++at;
        if (!expected.object) return true;
        if (!member->isObject()) return whole = false;
        each_member(*member, direct_walk_, [&](const Json::Value* entry, const char* entry_name) {
            if (at < noted && layout_[at].value == entry && layout_[at].name == entry_name) ++at;
            return true;
        });
        if (at == noted || layout_[at].value != nullptr) return whole = false;
        ++at;
        return true;
    });
    return whole && at == noted;
}

inline void SnapshotTree::drop() {
    slots_.clear();
    layout_.clear();
    placed_time_ = nullptr;
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

inline void SnapshotTree::assign_time_text(Json::Value& slot, const char* text) {
    const std::size_t length = std::strlen(text);
    auto length_of = [](const Json::Value& value, const char** begin) -> std::size_t {
        const char* end = nullptr;
        if (value.type() != Json::stringValue || !value.getString(begin, &end)) return SIZE_MAX;
        return static_cast<std::size_t>(end - *begin);
    };
    const char* held = nullptr;
    const std::size_t held_length = length_of(slot, &held);
    if (held_length == length && std::memcmp(held, text, length) == 0) return;
    if (held == nullptr || held != placed_time_ || held_length != length) {
        // The slot takes the tree's text of this length; what it held goes back to the tree when
        // it is one of the tree's texts, and is released at the next build otherwise.
        std::size_t pooled = 0;
        const char* ignored = nullptr;
        while (pooled < time_texts_.size() && length_of(time_texts_[pooled], &ignored) != length) ++pooled;
        if (pooled == time_texts_.size()) time_texts_.emplace_back(std::string(length, ' '));
        slot.swapPayload(time_texts_[pooled]);
        if (held == nullptr || held != placed_time_) {
            retired_.emplace_back();
            retired_.back().swapPayload(time_texts_[pooled]);
            time_texts_.erase(time_texts_.begin() + static_cast<std::ptrdiff_t>(pooled));
        }
        length_of(slot, &held);
        placed_time_ = held;
    }
    // The tree's own text: written in place, so a reader holding it never holds freed memory.
    std::memcpy(const_cast<char*>(held), text, length);
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
