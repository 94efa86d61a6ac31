#include "catalogue_listing.h"

#include <sstream>
#include <string>

#include "catalogue/signal_catalogue.h"

namespace {

using px46tr_k::Coding;
using px46tr_k::SignalSource;

const char* kind_of(Coding coding) {
    switch (coding) {
        case Coding::number:
            return "number";
        case Coding::time_text:
            return "time text";
        default:
            return "status word";
    }
}

const char* coding_name(Coding coding) {
    switch (coding) {
        case Coding::switch_code:
            return "switch code 0 正常 1 告警 2 空闲 3 分闸";
        case Coding::surge_code:
            return "surge code 0 正常 1 告警 2 空闲";
        case Coding::total_code:
            return "1 告警, other 正常";
        case Coding::flag:
            return "non-zero: 告警";
        default:
            return "";
    }
}

std::string divisors(float divisor, float second_divisor) {
    std::ostringstream text;
    if (divisor != 1.0f) text << " /" << divisor;
    if (second_divisor != 1.0f) text << " /" << second_divisor;
    return text.str();
}

std::string source_text(const SignalSource& source) {
    std::ostringstream text;
    switch (source.kind) {
        case SignalSource::Kind::register16:
            text << "register " << source.first_register;
            break;
        case SignalSource::Kind::register_pair:
            text << "registers " << source.first_register << "-" << source.first_register + 1
                 << " signed 32-bit";
            break;
        case SignalSource::Kind::flag:
            text << "register " << source.first_register << " bit " << source.bit;
            break;
        case SignalSource::Kind::none:
            text << "no polled register";
            break;
        case SignalSource::Kind::round_stamp:
            text << "round stamp";
            break;
    }
    return text.str();
}

}  // namespace

void print_catalogue(std::ostream& out) {
    for (const auto& signal : px46tr_k::snapshot_signals()) {
        out << signal.name << '\t' << kind_of(signal.coding) << '\t' << source_text(signal.source);
        if (signal.coding == Coding::number) {
            out << (signal.source.kind == SignalSource::Kind::register16 ? " unsigned" : "")
                << divisors(signal.divisor, signal.second_divisor);
        } else if (signal.source.kind == SignalSource::Kind::flag) {
            out << " (set: 告警)";
        } else if (signal.coding != Coding::time_text) {
            out << " (" << coding_name(signal.coding) << ")";
        }
        out << '\n';
    }
    for (const auto& alarm : px46tr_k::reportable_alarms()) {
        out << alarm.name << "\talarm\t" << source_text(alarm.source);
        if (alarm.source.kind == SignalSource::Kind::register16) {
            out << (alarm.active_when_one() ? " equal to 1" : " non-zero");
        } else if (alarm.source.kind == SignalSource::Kind::none) {
            out << " (never active)";
        }
        out << '\n';
    }
}
