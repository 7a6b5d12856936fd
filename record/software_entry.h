#pragma once

#include <string>

// One record of the product record file. The fields are byte strings (UTF-8 in
// practice), compared as bytes and never converted.
struct SoftwareEntry {
    std::string name;
    std::string product_id;
    std::string distributor_id;
};
