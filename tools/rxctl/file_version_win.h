#pragma once
// The version a program carries in its VERSIONINFO resource, for rxctl --version, status
// and doctor. A program built without the resource is named as such, never guessed.
#include <string>

enum class file_version_status { found, no_resource, unreadable };

// The file version ("1.0.1.0") of `path` from the resource's fixed part. no_resource when
// the file has none; unreadable (with `error`) when the file cannot be read.
file_version_status read_file_version(const std::wstring& path, std::string& version, unsigned long& error);

// "version 1.0.1.0", "no version resource" or "version unreadable (error ...)", for lines.
std::string file_version_text(const std::wstring& path);
