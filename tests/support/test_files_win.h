#pragma once
// Files of the tests in the prefix's temporary folder: a path of this process's own,
// writing and reading whole files as bytes.
#include <optional>
#include <string>

#include "tests/support/bytes.h"

namespace test_files {
// "<temporary folder><prefix>_<process id>_<name>".
std::wstring temporary_path(const wchar_t* prefix, const wchar_t* name);
// Creates or replaces the file with `content`; false when it cannot.
bool write(const std::wstring& path, const bytes& content);
// The whole file, or nothing when it cannot be opened.
std::optional<bytes> read(const std::wstring& path);
}  // namespace test_files
