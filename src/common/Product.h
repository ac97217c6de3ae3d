#pragma once
// The product's names and addresses, kept in one place.

namespace product {

inline constexpr wchar_t kTitle[] = L"Orvelle";
inline constexpr wchar_t kSupportEmail[] = L"support@orvelle.example";
inline constexpr wchar_t kHomePage[] = L"https://www.orvelle.example/";
inline constexpr wchar_t kContactPage[] = L"https://www.orvelle.example/contact";

}  // namespace product
