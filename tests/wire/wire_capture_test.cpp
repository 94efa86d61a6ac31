#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/register_map.h"
#include "frame_capture.h"
#include "linked_device.h"
#include "null_modem.h"

namespace {

using unit_sim::RegisterImage;

// A capture file's path in the temporary directory, removed afterwards.
struct CapturePath {
    CapturePath()
        : path((std::filesystem::temp_directory_path() /
                ("px46_wire_capture_" + std::to_string(getpid()) + "_" + std::to_string(++count) + ".pcap"))
                   .string()) {}
    ~CapturePath() { std::filesystem::remove(path); }
    static inline int count = 0;
    std::string path;
};

// One packet as tshark decodes it: its Modbus fields (empty when it carries no Modbus) and what
// tshark found wrong with it.
struct Dissected {
    int frame = 0;
    std::string function;
    std::string reference;
    std::string count;
    std::string request_frame;  // a reply: the frame of its request
    std::vector<long> values;   // a reply: the registers it carried
    std::string malformed;
    long worst_expert = 0;  // the highest expert severity (0x600000 a warning, 0x800000 an error)
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// Every packet of the file as tshark (bounded to a minute) decodes it with `preference` set.
std::vector<Dissected> dissect(const std::string& path, const std::string& preference) {
    const std::string command = "timeout 60 tshark -r '" + path + "' -o '" + preference +
                                "' -T fields -E separator=/t -E occurrence=a -E aggregator=, -e frame.number"
                                " -e modbus.func_code -e modbus.reference_num -e modbus.word_cnt"
                                " -e modbus.request_frame -e modbus.regval_uint16 -e _ws.malformed"
                                " -e _ws.expert.severity 2>/dev/null";
    std::FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) throw std::runtime_error("cannot run tshark");
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
    const int status = pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "tshark failed (status " << status << "); scripts/setup-deps.sh installs it";
    std::vector<Dissected> packets;
    for (const std::string& line : split(text, '\n')) {
        if (line.empty()) continue;
        const std::vector<std::string> f = split(line, '\t');
        if (f.size() != 8) throw std::runtime_error("tshark printed '" + line + "'");
        Dissected d;
        d.frame = std::stoi(f[0]);
        d.function = f[1];
        d.reference = f[2];
        d.count = f[3];
        d.request_frame = f[4];
        for (const std::string& v : split(f[5], ',')) d.values.push_back(std::stol(v));
        d.malformed = f[6];
        for (const std::string& s : split(f[7], ',')) d.worst_expert = std::max(d.worst_expert, std::stol(s));
        packets.push_back(d);
    }
    return packets;
}

enum class Transport { tcp, rtu };

void PrintTo(Transport transport, std::ostream* out) {
    *out << (transport == Transport::tcp ? "tcp" : "rtu");
}

// A simulator over loopback TCP or across a null-modem cable, and the preference that tells tshark
// where its frames are.
struct ServedLine {
    explicit ServedLine(Transport transport, const RegisterImage& image) {
        if (transport == Transport::tcp) {
            server = tcp_server(image);
            endpoint = tcp_endpoint(server->port());
            preference = "mbtcp.tcp.port:" + std::to_string(server->port());
            return;
        }
        modem = std::make_unique<NullModem>();
        unit_sim::ServerOptions options;
        options.endpoint = parse_rtu_endpoint(modem->device_a() + ":9600:N");
        server = std::make_unique<unit_sim::UnitServer>(image, options);
        server->start();
        endpoint = parse_rtu_endpoint(modem->device_b() + ":9600:N");
        preference = "mbrtu.udp.port:" + std::to_string(FrameCapture::kRtuUnitPort);
    }
    std::unique_ptr<NullModem> modem;
    std::unique_ptr<unit_sim::UnitServer> server;
    ModbusEndpoint endpoint;
    std::string preference;
};

class WireCapture : public ::testing::TestWithParam<Transport> {};

TEST_P(WireCapture, EachRoundDecodesAsTheMapsReadsAndTheirReplies) {
    const RegisterImage image = distinct_image();
    ServedLine line(GetParam(), image);
    CapturePath file;
    FrameCapture capture(file.path);
    LinkSettings settings = patient_settings();
    settings.wire_observers.push_back(&capture);
    ModbusLink link(line.endpoint, settings);
    LinkedDevice remote(link);

    constexpr std::size_t kFramesPerRound = 2 * px46tr_k::kRegisterMap.size();
    for (std::size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(remote.run_round());
        // What a round's end flushed is readable while the run goes on.
        ASSERT_TRUE(capture.flush()) << capture.error();
        std::vector<Dissected> modbus;
        for (const Dissected& d : dissect(file.path, line.preference)) {
            EXPECT_EQ(d.malformed, "") << "frame " << d.frame;
            EXPECT_LT(d.worst_expert, 0x600000) << "frame " << d.frame << " has a warning or an error";
            if (!d.function.empty()) modbus.push_back(d);
        }
        ASSERT_EQ(modbus.size(), round * kFramesPerRound);
        for (std::size_t i = 0; i < px46tr_k::kRegisterMap.size(); ++i) {
            const auto& row = px46tr_k::kRegisterMap[i];
            const Dissected& request = modbus[(round - 1) * kFramesPerRound + 2 * i];
            const Dissected& reply = modbus[(round - 1) * kFramesPerRound + 2 * i + 1];
            SCOPED_TRACE("read " + std::to_string(i) + ", frame " + std::to_string(request.frame));
            EXPECT_EQ(request.function, "3");
            EXPECT_EQ(request.reference, std::to_string(row.first_register));
            EXPECT_EQ(request.count, std::to_string(row.count));
            EXPECT_EQ(request.request_frame, "");
            EXPECT_EQ(reply.function, "3");
            EXPECT_EQ(reply.request_frame, std::to_string(request.frame));
            ASSERT_EQ(reply.values.size(), static_cast<std::size_t>(row.count));
            for (int k = 0; k < row.count; ++k) EXPECT_EQ(reply.values[k], image.get(row.first_register + k));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, WireCapture, ::testing::Values(Transport::tcp, Transport::rtu),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                             return info.param == Transport::tcp ? "Tcp" : "RtuOverANullModem";
                         });

}  // namespace
