#pragma once

#include <ostream>

// Prints every snapshot member and every reportable alarm of the driver, one per line:
// name, kind (number, status word, time text, alarm) and source (registers, divisors, flag bits),
// tab-separated, straight from the driver's own tables.
void print_catalogue(std::ostream& out);
