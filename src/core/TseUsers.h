// The TSE users and their secrets: fixed in the program, the same for every
// TSE. Set when a new TSE is initialised; the Admin PIN opens every login.
#pragma once

inline constexpr const char* TseAdminUser = "Admin";
inline constexpr const char* TseAdminPin = "RubXen58";
inline constexpr const char* TseAdminPuk = "RUBXnPk58!";
inline constexpr const char* TseTimeAdminUser = "TimeAdmin";
inline constexpr const char* TseTimeAdminPin = "RubTol58";
inline constexpr const char* TseTimeAdminPuk = "RUBToLPkq!";
