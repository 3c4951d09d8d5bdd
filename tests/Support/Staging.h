// Helpers of the installation tests: running a command line, and listing a
// staged tree.
#pragma once

#include <sys/stat.h>

#include <map>
#include <string>

namespace qzm::test {

// Runs a shell command line; returns its exit status (-1 when it did not end
// normally) and, in output, what it wrote on both outputs that its own
// redirections leave there.
int RunShell(const std::string& commandLine, std::string* output = nullptr);

// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

// Every file, link and folder below root, by its path relative to root
// ("/Library/..."), with its lstat mode.
std::map<std::string, mode_t> ListTree(const std::string& root);

// Installs the build tree with "cmake --install", the given environment
// assignments ("DESTDIR=... " and/or "QZM480_ROOT=...") in front. QZM480_ROOT
// is unset otherwise. Every install rule of the package is in the default
// component; naming it keeps build/install_manifest.txt, the list of a real
// installation, untouched.
int InstallBuild(const std::string& assignments, std::string* output);

}  // namespace qzm::test
