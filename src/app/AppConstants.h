#pragma once

// Fixed names and addresses of the program, kept in one place.
namespace AppConstants {

// Names the data folder and the redirect file.
inline constexpr const char *kAppId = "5B0D9A2E71C84F3396AE0C17D2F84B6A";
// The maker's folder inside the roaming profile folder.
inline constexpr const char *kMakerFolder = "CorVanta";

// Sub-folders of the data folder.
inline constexpr const char *kLogFolder = "qlogs";
inline constexpr const char *kLocalDatabasesFolder = "local_databases";
// Caches: copies of connected phones' files, and of what was loaded from iTunes backups.
inline constexpr const char *kDeviceCacheFolder = "ios_cache";
inline constexpr const char *kBackupCacheFolder = "itunes_cache";

// Daily log files kept at start-up.
inline constexpr int kLogFilesKept = 10;
// The only database layer version the program works with.
inline constexpr int kRequiredSqliteWrapperVersion = 6;

// Where users are sent for help; a domain of the product's own.
inline constexpr const char *kSupportEmail = "support@chatwharf.example";
inline constexpr const char *kDeviceHelpUrl = "https://chatwharf.example/help/connect-iphone";

} // namespace AppConstants
