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

// Runs the command-line program `cli` as "cli --profile:<profile> <args>"
// (args split by the shell) with `input` on its standard input. Standard
// output goes to *out, standard error to <dir>/err. Returns the exit status,
// or -1 when it did not exit normally.
int RunCli(const std::string& cli, const std::string& profile, const std::string& args,
           const std::string& input, const std::string& dir, std::string* out);

} // namespace iwtest
