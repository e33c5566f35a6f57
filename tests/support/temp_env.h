// Test sandbox: every test binary runs with HOME, the XDG folders and the
// store file pointed at a private temporary folder, created before main()
// and removed at exit, so no test ever touches the real home directory.
#pragma once

#include <string>

namespace iwtest {

// The private folder of this test process (exists for the whole run).
const std::string& SandboxDir();

// A new empty folder inside the sandbox, mode 0700.
std::string MakeTempDir(const std::string& prefix = "t");

// Whole contents of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);

// Removes a folder tree (no error when it is absent).
void RemoveTree(const std::string& path);

} // namespace iwtest
