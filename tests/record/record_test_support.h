#pragma once

#include <ostream>
#include <string>

#include "record/software_entry.h"
#include "tests/support/test_support.h"

// Comparison and printing for expectations; beside the type (global namespace) so
// that vector comparisons and gtest find them.
inline bool operator==(const SoftwareEntry& a, const SoftwareEntry& b) {
    return a.name == b.name && a.product_id == b.product_id && a.distributor_id == b.distributor_id;
}

inline void PrintTo(const SoftwareEntry& e, std::ostream* os) {
    *os << "{\"" << e.name << "\", \"" << e.product_id << "\", \"" << e.distributor_id << "\"}";
}

// The name registration gives a new record, as UTF-8 bytes, and that record's file. The
// name is a constant: clang's mingw target runs inline variables' initialisers in reverse
// order, so the record built from a std::string name would see it still empty.
inline constexpr char kChineseName[] = "halvex\xE9\x9D\x92\xE7\xA6\xBE\xE5\xB7\xA5\xE5\x9D\x8A";
inline const std::string kDefaultRecordBytes =
    std::string("[[software]]\r\nname = \"") + kChineseName +
    "\"\r\nproduct_id = \"6\"\r\ndistributor_id = \"1\"\r\n";
