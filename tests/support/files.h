// Whole files as bytes, for tests that check what a program wrote (or prepare what it reads).
// A file that cannot be read reads as empty.
#pragma once

#include <filesystem>
#include <string>

namespace corvane::testsupport {

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace corvane::testsupport
