#include "record/record_scanner.h"

#include <utility>

namespace {

constexpr std::string_view kHeader = "[[software]]";

bool Contains(std::string_view line, std::string_view text) {
    return line.find(text) != std::string_view::npos;
}

// A key line sets its field to everything after the line's first '=', less every
// double quote and any leading blanks; the tail is kept as it stands.
void ApplyValueLine(std::string_view line, std::string& field) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    std::string value;
    for (char c : line.substr(equals + 1)) {
        if (c != '"') {
            value.push_back(c);
        }
    }
    value.erase(0, value.find_first_not_of(" \t"));
    field = std::move(value);
}

void AppendIfIdentified(std::vector<SoftwareEntry>& entries, const SoftwareEntry& pending) {
    if (!pending.product_id.empty()) {
        entries.push_back(pending);
    }
}

}  // namespace

std::vector<SoftwareEntry> ScanSoftwareEntries(std::string_view bytes) {
    std::vector<SoftwareEntry> entries;
    SoftwareEntry pending;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const bool terminated = end != std::string_view::npos;
        if (!terminated) {
            end = bytes.size();
        }
        std::string_view line = bytes.substr(start, end - start);
        // Only a CR that ends a line before its LF goes; a lone CR is content.
        if (terminated && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        start = end + 1;

        if (Contains(line, kHeader)) {
            AppendIfIdentified(entries, pending);
            pending = SoftwareEntry{};
        } else if (Contains(line, "name")) {
            ApplyValueLine(line, pending.name);
        } else if (Contains(line, "product_id")) {
            ApplyValueLine(line, pending.product_id);
        } else if (Contains(line, "distributor_id")) {
            ApplyValueLine(line, pending.distributor_id);
        }
    }
    AppendIfIdentified(entries, pending);
    return entries;
}

std::string FormatSoftwareEntries(const std::vector<SoftwareEntry>& entries) {
    std::string bytes;
    for (const SoftwareEntry& entry : entries) {
        bytes.append(kHeader).append("\r\n");
        bytes.append("name = \"").append(entry.name).append("\"\r\n");
        bytes.append("product_id = \"").append(entry.product_id).append("\"\r\n");
        bytes.append("distributor_id = \"").append(entry.distributor_id).append("\"\r\n");
    }
    return bytes;
}
