#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "host_runtime/modbus_endpoint.h"
#include "unit_sim/drift.h"
#include "unit_sim/register_image.h"

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

// The simulated unit on a real Modbus line: a libmodbus server that answers reads (03) and writes
// (06, 16) of the unit's register map from its register image, the exception "illegal data
// address" for any register outside the map and "illegal function" for any other function.
// On TCP it answers its own unit id, 0xFF and 0 (a server addressed directly), and discards frames
// whose protocol identifier is not 0; on RTU it answers its own address only.
namespace unit_sim {

// Faults for tests, counted over the requests the server takes (the first is request 1); each
// "every" of 0 is off. A request hit by several faults gets the first of: close, drop,
// exception, delay.
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

struct ServerOptions {
    ModbusEndpoint endpoint;  // tcp: host and port (0 picks a free one); rtu: device, baud, parity
    bool drift = false;       // measured values move every round (each read from register 0)
    Faults faults;
};

class UnitServer {
public:
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
    std::uint16_t get(int reg) const;
    std::uint64_t requests_taken() const { return taken_; }

private:
    enum class Handling { keep, close };

    void accept_loop();
    void serve_connection(int fd, std::atomic<bool>* done);
    // Serve requests until the line closes or the server stops.
    void serve_rtu();
    void serve_tcp(modbus_t* ctx);
    // Reads exactly `count` bytes of a frame already under way; false when the peer closes, the
    // server stops or the bytes are late.
    bool receive_rest(int fd, std::uint8_t* into, int count) const;
    bool answers(int unit) const;
    // `length` counts the whole frame, as libmodbus's replies take it.
    Handling handle(modbus_t* ctx, const std::uint8_t* request, int length);
    // Applies a write of multiple registers and confirms it with `count` as its count.
    void write_confirming(modbus_t* ctx, const std::uint8_t* request, int start, int count, int confirmed);
    bool wait_unless_stopped(int milliseconds);
    bool wait_readable(int fd) const;

    ServerOptions options_;
    Drift drift_;
    mutable std::mutex image_mutex_;  // guards mapping_ and drift_
    modbus_mapping_t* mapping_ = nullptr;

    int listen_fd_ = -1;
    int port_ = 0;
    modbus_t* rtu_ctx_ = nullptr;
    int wake_[2] = {-1, -1};  // written once on stop: wakes every waiting thread
    std::mutex stop_mutex_;
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
