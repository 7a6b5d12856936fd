#pragma once

#include <ostream>

#include "record/software_entry.h"

// Comparison and printing for test expectations; they live beside the type (global
// namespace) so that vector comparisons and gtest find them.
inline bool operator==(const SoftwareEntry& a, const SoftwareEntry& b) {
    return a.name == b.name && a.product_id == b.product_id && a.distributor_id == b.distributor_id;
}

inline void PrintTo(const SoftwareEntry& e, std::ostream* os) {
    *os << "{\"" << e.name << "\", \"" << e.product_id << "\", \"" << e.distributor_id << "\"}";
}
