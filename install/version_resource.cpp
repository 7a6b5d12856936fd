#include "install/version_resource.h"

#include <algorithm>

namespace {

constexpr std::size_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kVersionType = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::uint16_t kFixedInfoSize = 52;
constexpr std::uint16_t kTextValue = 1;
constexpr std::size_t kNodeHeaderSize = 6;
// A real program has one version resource or a few; the bound keeps a crafted tree whose
// entries share subdirectories from multiplying the work.
constexpr std::size_t kMaxVersionSteps = 64;

// Little-endian reads that fail instead of reading past the end.
class Bytes {
  public:
    Bytes() = default;
    Bytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t size() const { return size_; }
    bool Has(std::size_t at, std::size_t count) const { return at <= size_ && count <= size_ - at; }
    bool U16(std::size_t at, std::uint16_t& value) const {
        if (!Has(at, 2)) return false;
        value = static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8);
        return true;
    }
    bool U32(std::size_t at, std::uint32_t& value) const {
        std::uint16_t low = 0;
        std::uint16_t high = 0;
        if (!U16(at, low) || !U16(at + 2, high)) return false;
        value = static_cast<std::uint32_t>(high) << 16 | low;
        return true;
    }
    Bytes Slice(std::size_t at, std::size_t count) const { return Bytes(data_ + at, count); }

  private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t mappedSize;
    std::uint32_t rawOffset;
};

// The PE headers as the file holds them: the section table and the resource directory.
class PeFile {
  public:
    explicit PeFile(Bytes file) : file_(file) {}

    bool ReadHeaders() {
        std::uint16_t magic = 0;
        std::uint32_t headerAt = 0;
        std::uint32_t signature = 0;
        if (!file_.U16(0, magic) || magic != 0x5A4D || !file_.U32(0x3C, headerAt) ||
            !file_.U32(headerAt, signature) || signature != 0x00004550) {
            return false;
        }
        const std::size_t coff = static_cast<std::size_t>(headerAt) + 4;
        std::uint16_t sections = 0;
        std::uint16_t optionalSize = 0;
        std::uint16_t optionalMagic = 0;
        if (!file_.U16(coff + 2, sections) || !file_.U16(coff + 16, optionalSize) ||
            !file_.U16(coff + 20, optionalMagic)) {
            return false;
        }
        // PE32 and PE32+ differ in where the data directories start.
        const std::size_t optional = coff + 20;
        std::size_t directories = 0;
        if (optionalMagic == 0x10B) {
            directories = 96;
        } else if (optionalMagic == 0x20B) {
            directories = 112;
        } else {
            return false;
        }
        std::uint32_t directoryCount = 0;
        const std::size_t resourceEntry = directories + 8 * kResourceDirectoryIndex;
        if (!file_.U32(optional + directories - 4, directoryCount) ||
            directoryCount <= kResourceDirectoryIndex || resourceEntry + 8 > optionalSize ||
            !file_.U32(optional + resourceEntry, resourceRva_) ||
            !file_.U32(optional + resourceEntry + 4, resourceSize_)) {
            return false;
        }
        const std::size_t table = optional + optionalSize;
        for (std::size_t i = 0; i < sections; ++i) {
            const std::size_t at = table + 40 * i;
            std::uint32_t virtualSize = 0;
            std::uint32_t rawSize = 0;
            Section section{};
            if (!file_.U32(at + 8, virtualSize) || !file_.U32(at + 12, section.virtualAddress) ||
                !file_.U32(at + 16, rawSize) || !file_.U32(at + 20, section.rawOffset)) {
                return false;
            }
            // Only what the file holds and the image maps both.
            section.mappedSize = virtualSize == 0 ? rawSize : std::min(rawSize, virtualSize);
            sections_.push_back(section);
        }
        return true;
    }

    // The file's bytes at [rva, rva + count), when one section holds them all.
    bool AtRva(std::uint32_t rva, std::uint32_t count, Bytes& bytes) const {
        for (const Section& section : sections_) {
            const std::uint64_t start = section.virtualAddress;
            if (rva < start || std::uint64_t{rva} + count > start + section.mappedSize) {
                continue;
            }
            const std::size_t at = static_cast<std::size_t>(section.rawOffset) + (rva - start);
            if (!file_.Has(at, count)) return false;
            bytes = file_.Slice(at, count);
            return true;
        }
        return false;
    }

    bool ResourceTree(Bytes& tree) const {
        return resourceRva_ != 0 && AtRva(resourceRva_, resourceSize_, tree);
    }

  private:
    Bytes file_;
    std::vector<Section> sections_;
    std::uint32_t resourceRva_ = 0;
    std::uint32_t resourceSize_ = 0;
};

// One entry of a resource directory: its name or ID, and the subdirectory or data it leads to.
struct DirectoryEntry {
    std::uint32_t name;
    std::uint32_t target;
};

bool ReadDirectory(const Bytes& tree, std::uint32_t offset, std::vector<DirectoryEntry>& entries) {
    std::uint16_t named = 0;
    std::uint16_t numbered = 0;
    if (!tree.U16(offset + std::size_t{12}, named) ||
        !tree.U16(offset + std::size_t{14}, numbered)) {
        return false;
    }
    entries.clear();
    for (std::size_t i = 0; i < std::size_t{named} + numbered; ++i) {
        const std::size_t at = offset + std::size_t{16} + 8 * i;
        DirectoryEntry entry{};
        if (!tree.U32(at, entry.name) || !tree.U32(at + 4, entry.target)) return false;
        entries.push_back(entry);
    }
    return true;
}

std::size_t AlignUp4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

// One node of a version resource: a header, a key, a value and children, all inside the
// parent's extent, aligned to four bytes from the resource's start.
struct Node {
    std::uint16_t valueLength = 0;
    std::u16string key;
    std::size_t valueAt = 0;
    std::size_t childrenAt = 0;
    std::size_t end = 0;
};

bool ReadNode(const Bytes& block, std::size_t at, std::size_t end, bool textValue, Node& node) {
    std::uint16_t length = 0;
    std::uint16_t type = 0;
    if (!block.U16(at, length) || !block.U16(at + 2, node.valueLength) ||
        !block.U16(at + 4, type) || length < kNodeHeaderSize || length > end - at) {
        return false;
    }
    node.end = at + length;
    node.key.clear();
    std::size_t unit = at + kNodeHeaderSize;
    for (;; unit += 2) {
        std::uint16_t code = 0;
        if (unit + 2 > node.end || !block.U16(unit, code)) return false;
        if (code == 0) break;
        node.key.push_back(static_cast<char16_t>(code));
    }
    // A node without a value may end right after its key, before the padding.
    node.valueAt = std::min(AlignUp4(unit + 2), node.end);
    const std::size_t valueBytes =
        (textValue || type == kTextValue) ? std::size_t{2} * node.valueLength : node.valueLength;
    if (valueBytes > node.end - node.valueAt) return false;
    node.childrenAt = AlignUp4(node.valueAt + valueBytes);
    return true;
}

// Calls visit(child) for each child of `parent`; false when one is malformed or visit fails.
template <typename Visit>
bool ForEachChild(const Bytes& block, const Node& parent, bool textValues, Visit visit) {
    for (std::size_t at = parent.childrenAt; at < parent.end; at = AlignUp4(at)) {
        Node child;
        if (!ReadNode(block, at, parent.end, textValues, child) || !visit(child)) return false;
        at = child.end;
    }
    return true;
}

char16_t AsciiLower(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
}

// Keys compare as Windows compares them, without regard to ASCII case.
bool KeyIs(const std::u16string& key, const char* name) {
    std::size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        if (i >= key.size() ||
            AsciiLower(key[i]) != AsciiLower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return i == key.size();
}

bool ReadProductName(const Bytes& block, const Node& string, VersionResource& resource) {
    std::u16string name;
    for (std::size_t i = 0; i < string.valueLength; ++i) {
        std::uint16_t code = 0;
        if (!block.U16(string.valueAt + 2 * i, code)) return false;
        name.push_back(static_cast<char16_t>(code));
    }
    if (!name.empty() && name.back() == u'\0') name.pop_back();
    if (name.find(u'\0') != std::u16string::npos) return false;
    resource.productNames.push_back(name);
    return true;
}

bool ReadVersionInfo(const Bytes& block, VersionResource& resource) {
    Node root;
    if (!ReadNode(block, 0, block.size(), false, root) || !KeyIs(root.key, "VS_VERSION_INFO")) {
        return false;
    }
    if (root.valueLength == kFixedInfoSize) {
        std::uint32_t signature = 0;
        std::uint32_t high = 0;
        std::uint32_t low = 0;
        if (!block.U32(root.valueAt, signature) || signature != kFixedInfoSignature ||
            !block.U32(root.valueAt + 8, high) || !block.U32(root.valueAt + 12, low)) {
            return false;
        }
        resource.hasFixedInfo = true;
        resource.fileVersion = std::uint64_t{high} << 32 | low;
    } else if (root.valueLength != 0) {
        return false;
    }
    return ForEachChild(block, root, false, [&](const Node& info) {
        if (!KeyIs(info.key, "StringFileInfo")) return true;
        return ForEachChild(block, info, false, [&](const Node& table) {
            return ForEachChild(block, table, true, [&](const Node& string) {
                return !KeyIs(string.key, "ProductName") ||
                       ReadProductName(block, string, resource);
            });
        });
    });
}

}  // namespace

bool ReadVersionResources(const unsigned char* image, std::size_t size,
                          std::vector<VersionResource>& resources) {
    resources.clear();
    PeFile file(Bytes(image, size));
    Bytes tree;
    std::vector<DirectoryEntry> types;
    if (!file.ReadHeaders() || !file.ResourceTree(tree) || !ReadDirectory(tree, 0, types)) {
        return false;
    }
    // Every directory read and every resource read below the version type spends one step.
    std::size_t steps = kMaxVersionSteps;
    const auto subdirectory = [&](const DirectoryEntry& entry, std::vector<DirectoryEntry>& into) {
        return (entry.target & kHighBit) != 0 && steps-- > 0 &&
               ReadDirectory(tree, entry.target & ~kHighBit, into);
    };
    std::vector<DirectoryEntry> names;
    std::vector<DirectoryEntry> languages;
    for (const DirectoryEntry& type : types) {
        if (type.name != kVersionType) continue;
        if (!subdirectory(type, names)) return false;
        for (const DirectoryEntry& name : names) {
            if (!subdirectory(name, languages)) return false;
            for (const DirectoryEntry& language : languages) {
                std::uint32_t rva = 0;
                std::uint32_t length = 0;
                Bytes block;
                VersionResource resource;
                if ((language.target & kHighBit) != 0 || steps-- == 0 ||
                    !tree.U32(language.target, rva) ||
                    !tree.U32(language.target + std::size_t{4}, length) ||
                    !file.AtRva(rva, length, block) || !ReadVersionInfo(block, resource)) {
                    return false;
                }
                resources.push_back(resource);
            }
        }
    }
    return !resources.empty();
}

bool MeetsSetupRequirement(const std::vector<VersionResource>& resources,
                           const SetupRequirement& wanted) {
    bool named = false;
    for (const VersionResource& resource : resources) {
        if (wanted.hasFloor && (!resource.hasFixedInfo || resource.fileVersion < wanted.floor)) {
            return false;
        }
        for (const std::u16string& name : resource.productNames) {
            if (!wanted.productName.empty() && name != wanted.productName) return false;
            named = true;
        }
    }
    return !resources.empty() && (wanted.productName.empty() || named);
}
