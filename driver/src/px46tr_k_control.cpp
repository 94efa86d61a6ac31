// Control requests of the host and its single-value queries.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <json/reader.h>
#include <json/writer.h>

#include "catalogue/record_fields.h"
#include "catalogue/register_map.h"
#include "driver/px46tr_k.h"

namespace {

constexpr int kWordBytes = 2;
constexpr int kWriteOutcomeBytes = sizeof(std::int32_t);
constexpr long kDataTimeoutSeconds = 61;

// A buffer that cannot be what its size says; refused only by a request that touches it.
bool missing(const void* buffer, int size) { return buffer == nullptr && size > 0; }

// Parses exactly `length` bytes as JSON. The text is copied into a terminated string first,
// because the reader may look one byte past a buffer when it fails at its last byte; a parse that
// throws (nesting too deep) fails like any other.
bool parse_json(const void* text, int length, Json::Value& root) {
    const std::string copy =
        length > 0 ? std::string(static_cast<const char*>(text), static_cast<std::size_t>(length))
                   : std::string();
    try {
        Json::Reader reader;
        return reader.parse(copy, root, false);
    } catch (const std::exception&) {
        return false;
    }
}

// True when no code of the table is a step of the polling round: a request that takes the line
// sets the awaited step to its own code, which a read's reply must never be taken for.
template <typename Route, std::size_t N>
constexpr bool outside_polling_steps(const Route (&routes)[N]) {
    for (const Route& route : routes) {
        if (route.code >= px46tr_k::kFirstStep && route.code <= px46tr_k::kLastStep) return false;
    }
    return true;
}

}  // namespace

// The codes with handling of their own; any other code reads the last write's outcome. A request
// that takes the line (206, 210, 310, 320) sets the awaited step to its code, so no code of the
// table may be a step of the polling round (checked in DeviceIoControl): a write's reply would be
// placed in the record as a block of the register image.
constexpr PX46TR_K::ControlRoute PX46TR_K::kControlRoutes[] = {
    {px46tr_k::kControlWriteRegister, &PX46TR_K::write_registers},
    {px46tr_k::kControlWriteRegisters, &PX46TR_K::write_registers},
    {px46tr_k::kControlRequest, &PX46TR_K::pass_request},
    {px46tr_k::kControlSignalRequest, &PX46TR_K::pass_request},
    {px46tr_k::kControlSnapshotText, &PX46TR_K::snapshot_text_request},
    {px46tr_k::kControlSnapshotAddress, &PX46TR_K::snapshot_address_request},
};

int PX46TR_K::DeviceIoControl(int code, const void* in, int in_len, void* out, int out_size, int& out_len) {
    framework::log_line(*diagnostics_, "PX46TR_K::DeviceIoControl ", code);
    out_len = 0;
    if (in_len < 0 || out_size < 0) return -1;

    static_assert(outside_polling_steps(kControlRoutes), "request codes and polling steps never meet");
    const ControlCall call{code, in, in_len, out, out_size, out_len};
    for (const ControlRoute& route : kControlRoutes) {
        if (route.code == code) return (this->*route.handle)(call);
    }
    return write_outcome_request(call);
}

// 206: register, value. 210: first register, then 1 to kMaxWriteRegisters values; an odd last
// byte is ignored.
int PX46TR_K::write_registers(const ControlCall& call) {
    if (missing(call.in, call.in_len)) return -1;
    const auto* in = static_cast<const std::uint8_t*>(call.in);
    const int values = call.code == px46tr_k::kControlWriteRegister ? 1 : call.in_len / kWordBytes - 1;
    if (call.in_len < 2 * kWordBytes || values > px46tr_k::kMaxWriteRegisters) return -1;
    std::vector<unsigned short> words(static_cast<std::size_t>(values) + 1);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = px46tr_k::read_u16(in + kWordBytes * i);

    step_ = call.code;
    const bool single = call.code == px46tr_k::kControlWriteRegister;
    write_.begin(single ? words[1] : values);
    OpenPort();
    if (single) {
        modbus_write_register(words[0], words[1]);
    } else {
        modbus_write_registers(words[0], values, words.data() + 1);
    }
    return 0;
}

// 310 always, and 320 outside the unicom profile, must carry JSON; the host's handler answers.
int PX46TR_K::pass_request(const ControlCall& call) {
    const bool parsed = call.code == px46tr_k::kControlRequest ||
                        !framework::is_profile(b_mode_, framework::OperatorProfile::kUnicom);
    if (parsed && missing(call.in, call.in_len)) return -1;
    step_ = call.code;
    write_.abandon();
    OpenPort();
    if (parsed) {
        Json::Value root;
        if (!parse_json(call.in, call.in_len, root)) return -1;
        if (call.code == px46tr_k::kControlSignalRequest) {
            // Only an object (or null, an object without members) carries a signal identifier;
            // other JSON is refused as if it had not parsed. The identifier must be text; the
            // library's conversion error reaches the caller otherwise.
            if (!root.isObject() && !root.isNull()) return -1;
            (void)root["signal_id"].asString();
        }
    }
    return SMDVDevice::DeviceIoControl(call.code, call.in, call.in_len, call.out, call.out_size,
                                       call.out_len);
}

int PX46TR_K::snapshot_text_request(const ControlCall& call) {
    if (missing(call.out, call.out_size) || refused_in_rule_evaluation()) return -1;
    GenJsonData();
    return snapshot_text(call.out, call.out_size, call.out_len);
}

int PX46TR_K::snapshot_address_request(const ControlCall& call) {
    if (missing(call.out, call.out_size) || refused_in_rule_evaluation()) return -1;
    GenJsonData();
    Json::Value* address = nullptr;
    call.out_len = static_cast<int>(sizeof address);
    if (call.out_size < call.out_len) return -1;
    {
        // From here on the holder may edit the tree: every build checks it first.
        std::lock_guard<std::mutex> lock(json_mutex_);
        address = json_.hand_out();
    }
    std::memcpy(call.out, &address, sizeof address);
    return 0;
}

// Any other code: the outcome of the last write, when there is room for it, then the host's
// handler.
int PX46TR_K::write_outcome_request(const ControlCall& call) {
    if (call.out_size >= kWriteOutcomeBytes) {
        if (call.out == nullptr) return -1;
        const std::int32_t outcome = write_.outcome();
        std::memcpy(call.out, &outcome, kWriteOutcomeBytes);
        call.out_len = kWriteOutcomeBytes;
    }
    return SMDVDevice::DeviceIoControl(call.code, call.in, call.in_len, call.out, call.out_size,
                                       call.out_len);
}

// The text is written once per state of the tree and handed out as a copy until the tree changes.
// The tree is copied under json_mutex_ and written after it is released, so a round completing
// meanwhile waits for that copy at most; the text is still one build's view. It is kept only if
// the tree has not changed while it was written (two requests meeting there may both write it).
int PX46TR_K::snapshot_text(void* out, int out_size, int& out_len) {
    std::shared_ptr<const framework::SnapshotText> text;
    std::optional<Json::Value> tree;
    std::uint64_t version = 0;
    {
        std::lock_guard<std::mutex> lock(json_mutex_);
        version = json_.version();
        text = json_.kept_text();
        if (!text) tree = json_.root();
    }
    if (tree) {
        text = std::make_shared<const framework::SnapshotText>(Json::FastWriter().write(*tree));
        tree.reset();
        std::lock_guard<std::mutex> lock(json_mutex_);
        json_.keep_text(text, version);
    }
    out_len = static_cast<int>(text->size());
    if (text->size() > static_cast<std::size_t>(out_size)) return -1;
    std::memcpy(out, text->data(), text->size());
    return 0;
}

// The snapshot requests take json_mutex_, which the rule evaluation holds across its reports to
// the host: asked from inside one of those reports on the same thread, they are refused.
bool PX46TR_K::refused_in_rule_evaluation() const {
    if (!in_rule_evaluation_here()) return false;
    framework::log_line(*diagnostics_,
                        "PX46TR_K::DeviceIoControl refused: called back from the rule evaluation");
    return true;
}

// Takes no lock: answers from any thread, inside the host operations round completion calls too.
// A round whose time is not yet set counts as not ready.
std::string PX46TR_K::Get_Value(unsigned int /*id*/, const std::string& /*name*/) const {
    const std::optional<std::int64_t> age = data_ready_ ? round_age_seconds() : std::nullopt;
    if (!age) throw std::out_of_range("数据未就绪");
    if (*age >= kDataTimeoutSeconds) throw std::out_of_range("数据已超时");
    throw std::out_of_range("不支持变量");
}
