#pragma once

#include <QString>

#include <cstdint>
#include <string>

// Small helpers shared across the application.

// True when a directory exists at path afterwards (created with all missing
// parents if needed).
bool ensureDirExists(const QString &path);

// The folder behind path: the directory itself, the folder holding a file,
// or the folder part of a path whose last element does not exist. Empty when
// nothing usable exists.
QString resolveDirectory(const QString &path);

// Compares the first "V<major>[.<minor>[.<patch>]]" found in each text.
// True when a's version is equal to or higher than b's; false (with a
// warning) when either text holds no version.
bool isVersionAtLeast(const QString &a, const QString &b);

// "HH:MM:SS"; hours grow beyond two digits when needed.
std::string formatHms(uint64_t seconds);

// "MM:SS:uuuuuu" for a time in microseconds; minutes grow beyond two digits.
std::string formatTimestampUs(uint64_t us);
