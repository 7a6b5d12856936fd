// The record scanner and writer on arbitrary bytes. The input is read twice: as a record
// file, checked for the scanner's invariants, line-end rules and a write-read round trip;
// and as a list of entries (fields split at 0x1F, three to a record) handed to the
// writer, whose output must read back as that list exactly when the list is expressible.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "record/record_scanner.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using Entries = std::vector<SoftwareEntry>;

constexpr char kFieldSeparator = '\x1F';

bool Contains(const std::string& field, std::string_view text) {
    return field.find(text) != std::string::npos;
}

bool SameEntries(const Entries& a, const Entries& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].product_id != b[i].product_id ||
            a[i].distributor_id != b[i].distributor_id) {
            return false;
        }
    }
    return true;
}

// A written value survives being read back when its line holds it on one line, the
// quotes the writer adds are the only ones, no leading blank is stripped, and the line
// is still classified by its own key: the header test comes first for every line, the
// name test before the product test, and both before the distributor test.
bool FieldSurvives(const std::string& value) {
    return value.find('"') == std::string::npos && value.find('\n') == std::string::npos &&
           (value.empty() || (value[0] != ' ' && value[0] != '\t')) &&
           !Contains(value, "[[software]]");
}

bool IsExpressible(const Entries& entries) {
    for (const SoftwareEntry& entry : entries) {
        if (entry.product_id.empty() || !FieldSurvives(entry.name) ||
            !FieldSurvives(entry.product_id) || !FieldSurvives(entry.distributor_id) ||
            Contains(entry.product_id, "name") || Contains(entry.distributor_id, "name") ||
            Contains(entry.distributor_id, "product_id")) {
            return false;
        }
    }
    return true;
}

void CheckInvariants(const Entries& entries) {
    for (const SoftwareEntry& entry : entries) {
        FuzzCheck(!entry.product_id.empty(), "record with an empty product_id");
        for (const std::string* field : {&entry.name, &entry.product_id, &entry.distributor_id}) {
            FuzzCheck(field->find('"') == std::string::npos, "field holds a double quote");
            FuzzCheck(field->find('\n') == std::string::npos, "field holds a line feed");
            FuzzCheck(field->empty() || ((*field)[0] != ' ' && (*field)[0] != '\t'),
                      "field starts with a blank");
        }
    }
}

// Every bare LF becomes CR LF; lines ended by CR LF already stay as they are.
std::string WithCrLf(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out.push_back('\r');
        out.push_back(bytes[i]);
    }
    return out;
}

void CheckFile(std::string_view bytes) {
    const Entries entries = ScanSoftwareEntries(bytes);
    CheckInvariants(entries);

    FuzzCheck(SameEntries(ScanSoftwareEntries(WithCrLf(bytes)), entries),
              "LF and CR LF line ends read differently");
    // A last line without its LF counts as a line, unless a CR would then be dropped.
    if (bytes.empty() || bytes.back() != '\r') {
        FuzzCheck(SameEntries(ScanSoftwareEntries(std::string(bytes) + "\n"), entries),
                  "a final LF changed the records");
    }

    if (IsExpressible(entries)) {
        FuzzCheck(SameEntries(ScanSoftwareEntries(FormatSoftwareEntries(entries)), entries),
                  "scanned records did not survive writing and reading back");
    }
}

Entries SplitIntoEntries(std::string_view bytes) {
    if (bytes.empty()) return {};
    std::vector<std::string> fields(1);
    for (char c : bytes) {
        if (c == kFieldSeparator) {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    Entries entries;
    for (size_t i = 0; i < fields.size(); i += 3) {
        SoftwareEntry entry;
        entry.name = fields[i];
        if (i + 1 < fields.size()) entry.product_id = fields[i + 1];
        if (i + 2 < fields.size()) entry.distributor_id = fields[i + 2];
        entries.push_back(std::move(entry));
    }
    return entries;
}

void CheckWriter(const Entries& entries) {
    const std::string written = FormatSoftwareEntries(entries);
    FuzzCheck(written.empty() == entries.empty(),
              "written bytes are empty for a non-empty list, or not for an empty one");
    const bool readsBack = SameEntries(ScanSoftwareEntries(written), entries);
    FuzzCheck(readsBack == IsExpressible(entries),
              readsBack ? "an inexpressible list read back unchanged"
                        : "an expressible list did not read back unchanged");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckFile(bytes);
    CheckWriter(SplitIntoEntries(bytes));
    return 0;
}
