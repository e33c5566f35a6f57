// SPDX-License-Identifier: GPL-3.0-or-later
// Test sandbox: every test binary runs with HOME, the XDG folders and the
// store file pointed at a private temporary folder, created before main()
// and removed at exit, so no test ever touches the real home directory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace iwtest {

// The private folder of this test process (exists for the whole run).
const std::string& SandboxDir();

// A new empty folder inside the sandbox, mode 0700.
std::string MakeTempDir(const std::string& prefix = "t");

// Whole contents of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);

// Writes a whole file, replacing what was there.
void WriteFile(const std::string& path, std::string_view bytes);

// Removes a folder tree (no error when it is absent).
void RemoveTree(const std::string& path);

// Local time follows `tz` (a POSIX TZ string or a zone name) while it lives.
class ScopedTz {
  public:
    explicit ScopedTz(const char* tz);
    ~ScopedTz();
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

  private:
    bool had_ = false;
    std::string old_;
};

// Runs `write` with files limited to `bytes`: writes past it fail, as on a
// full disk.
void WithFileSizeLimit(size_t bytes, const std::function<void()>& write);

// A small file system of its own (tmpfs) on `dir`, mounted in a mount
// namespace private to this process and the processes it starts, and
// unmounted when destroyed. Needs root: ok() is false (why() says) where
// mounting is not allowed.
class SmallDisk {
  public:
    SmallDisk(const std::string& dir, size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool ok() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    // Writes a file until the file system has no byte left.
    void Fill();

  private:
    std::string dir_, why_;
};

// Runs the command-line program `cli` as "cli --profile:<profile> <args>"
// (args split by the shell) with `input` on its standard input. Standard
// output goes to *out, standard error to <dir>/err. Returns the exit status,
// or -1 when it did not exit normally.
int RunCli(const std::string& cli, const std::string& profile, const std::string& args,
           const std::string& input, const std::string& dir, std::string* out);

} // namespace iwtest
