// Soak: one device polled for many rounds, each a second later than the last so that every round
// rebuilds the snapshot, with the unicom example configuration, drifting values and a request 801
// after each round. Prints the process's resident memory every so many rounds, to show whether it
// stays flat.
//
//   px46_soak [ROUNDS [SAMPLE_EVERY]]     (default 100000 rounds, a sample every 10000)
#include <cstdlib>
#include <iostream>
#include <vector>

#include "bench_support.h"

int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::atol(argv[1]) : 100000;
    const long every = argc > 2 ? std::atol(argv[2]) : 10000;

    const bench::ExampleWorkFolder folder("px46_soak");
    folder.configure(1);
    bench::SteppedClock clock(1);
    bench::DriftingUnit unit;
    PX46TR_K device;
    bench::set_up_example_device(device, clock, 1);
    BusPump pump(device, unit);
    std::vector<char> text(1 << 20);

    for (long r = 1; r <= rounds; ++r) {
        bench::polling_round(device, pump, unit, clock);
        bench::request_snapshot_text(device, text);
        if (r % every == 0 || r == 1) {
            std::cout << "round " << r << " rss_kb " << bench::resident_kb() << std::endl;
        }
    }
    return 0;
}
