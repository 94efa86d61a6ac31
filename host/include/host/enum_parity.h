#pragma once

// Parity of a serial line, as the host's port layer takes it.
enum EnumParity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2 };
