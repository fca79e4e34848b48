#pragma once

// The gallery sites and the instructions archive this program talks to, all in one place. Every
// gallery URL is "http://www." + site word + ".com" + path.
namespace sites {

inline constexpr const char* kSiteAWord = "vantrelpix";
inline constexpr const char* kSiteADomain = "vantrelpix.com";
inline constexpr const char* kSiteBWord = "vantrelshots";
inline constexpr const char* kSiteBDomain = "vantrelshots.com";

inline constexpr const char* kInstructionsFtpHost = "ftp.vantrelbricks.com";
inline constexpr const char* kInstructionsWebHost = "www.vantrelbricks.com";
// Shown on the window as the place the set instructions come from.
inline constexpr const char* kInstructionsWebBase = "http://www.vantrelbricks.com/brickfactory";

} // namespace sites
