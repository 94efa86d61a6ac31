#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "host_runtime/modbus_endpoint.h"
#include "unit_sim/drift.h"
#include "unit_sim/register_image.h"

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

// The simulated units of one Modbus line: a libmodbus server that answers reads (03) and writes
// (06, 16) of the unit's register map from the register image of the unit addressed, the
// exception "illegal data address" for any register outside the map and "illegal function" for
// any other function. Several unit ids may share the line, each with its own image and faults,
// as the units of one RS-485 bus or behind one gateway do.
// On TCP it answers the ids it serves, and 0xFF and 0 (a server addressed directly) from the
// lowest id it serves; it discards frames whose protocol identifier is not 0. On RTU it answers
// the addresses it serves only: a request to any other address gets no reply, as on a real bus.
namespace unit_sim {

// Faults for tests, counted over the requests taken (the first is request 1): the line's over
// every request the server takes, a unit's over the requests to that unit. Each "every" of 0 is
// off. A request hit by several faults gets the first of: close, drop, exception, delay; where
// the line's and its unit's faults both hit, the line's.
struct Faults {
    int delay_ms = 0;  // delay these replies by this long
    int delay_every = 1;
    int drop_every = 0;       // ignore every Nth request, as if its reply were lost
    int exception_every = 0;  // answer every Nth request with an exception
    int exception_code = 4;   // server device failure
    int close_every = 0;      // close the connection on every Nth request (TCP; RTU: dropped)
    int ready_after_ms = 0;   // TCP: ignore requests this soon after the connection opened
    // Confirm every write of multiple registers (16) with a count one more than was written; the
    // write itself is applied. A master that checks the reply's count refuses the confirmation.
    bool wrong_write_count = false;
};

// One unit id served on the line.
struct UnitSetup {
    RegisterImage image;
    Faults faults;      // this unit's own, counted over its requests
    bool dead = false;  // never answers: its requests are heard and counted, none is answered
};

struct ServerOptions {
    ModbusEndpoint endpoint;  // tcp: host and port (0 picks a free one); rtu: device, baud, parity
    bool drift = false;       // measured values move every round (each read from register 0)
    Faults faults;            // the line's, counted over every request taken
    // The unit ids served, 1 to 247, and what each holds. A server made from one image serves it
    // as endpoint.unit besides these.
    std::map<int, UnitSetup> units;
};

class UnitServer {
public:
    // Serves options.units; throws std::invalid_argument when there is none, or an id is out of
    // its transport's range.
    explicit UnitServer(ServerOptions options);
    // Serves `image` as options.endpoint.unit, with no faults of its own, beside options.units.
    UnitServer(const RegisterImage& image, ServerOptions options);
    ~UnitServer();  // stops
    UnitServer(const UnitServer&) = delete;
    UnitServer& operator=(const UnitServer&) = delete;

    // Opens the line and starts serving on threads of its own. Returns the TCP port listened on
    // (0 for RTU). Throws std::runtime_error when the line cannot be opened.
    int start();
    // Ends serving: closes every connection and the line, and waits for the threads. Idempotent.
    void stop();

    int port() const { return port_; }  // the TCP port listened on, once started
    // A register of the lowest unit id served, or of `unit` (std::out_of_range when not served).
    std::uint16_t get(int reg) const;
    std::uint16_t get(int unit, int reg) const;
    // Requests taken: by the whole line, or addressed to `unit` (0 when not served); a dead
    // unit's requests count, though none is answered.
    std::uint64_t requests_taken() const { return taken_; }
    std::uint64_t requests_taken(int unit) const;

private:
    enum class Handling { keep, close };

    // A unit served; the set of units is fixed when the server is made, so it is read unlocked.
    struct Unit {
        Unit(const UnitSetup& setup, std::uint32_t drift_seed);
        ~Unit();
        Unit(const Unit&) = delete;
        Unit& operator=(const Unit&) = delete;

        Faults faults;
        bool dead;
        Drift drift;                          // guarded by image_mutex_
        modbus_mapping_t* mapping = nullptr;  // guarded by image_mutex_
        std::atomic<std::uint64_t> taken{0};
    };

    void accept_loop();
    void serve_connection(int fd, std::atomic<bool>* done);
    // Serve requests until the line closes or the server stops.
    void serve_rtu();
    void serve_tcp(modbus_t* ctx);
    // Reads exactly `count` bytes of a frame already under way; false when the peer closes, the
    // server stops or the bytes are late.
    bool receive_rest(int fd, std::uint8_t* into, int count) const;
    // Reads one RTU request into `frame`; its length, 0 for a frame to drop (another's, garbled or
    // of unknown length: the line is drained), -1 when the line closes or the server stops.
    int receive_rtu_frame(int fd, std::uint8_t* frame) const;
    // The unit a request's id reaches, or none.
    Unit* unit_addressed(int id) const;
    // `length` counts the whole frame, as libmodbus's replies take it.
    Handling handle(modbus_t* ctx, const std::uint8_t* request, int length);
    // Applies a write of multiple registers and confirms it with `count` as its count.
    void write_confirming(modbus_t* ctx, Unit& unit, const std::uint8_t* request, int start, int count,
                          int confirmed);
    bool wait_unless_stopped(int milliseconds);
    bool stopping_now() const;
    bool wait_readable(int fd) const;

    ServerOptions options_;
    std::map<int, std::unique_ptr<Unit>> units_;
    // Lock order: image_mutex_, stop_mutex_ and connections_mutex_ are each taken alone, never
    // while another is held.
    mutable std::mutex image_mutex_;  // guards every unit's mapping and drift

    int listen_fd_ = -1;
    int port_ = 0;
    modbus_t* rtu_ctx_ = nullptr;
    int wake_[2] = {-1, -1};  // written once on stop: wakes every waiting thread
    mutable std::mutex stop_mutex_;
    std::condition_variable stop_cv_;
    bool stopping_ = false;
    std::atomic<std::uint64_t> taken_{0};

    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::mutex connections_mutex_;
    std::list<Connection> connections_;
    std::thread main_thread_;
};

}  // namespace unit_sim
