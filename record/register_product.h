#pragma once

// Records in the user's hidden record file that product 6 came through distributor
// 1, adding the product's record if the file has none. Never fails visibly.
void RegisterProduct() noexcept;
