#pragma once
// The publisher's address, written into every saved image, and its support page.

inline constexpr const char* PublisherAddress = "www.quillon.org";
inline constexpr const char* SupportPage = "https://www.quillon.org/orvanta/support";
