// Replacing a file in a folder that other users can write to.
#pragma once

#include <string>
#include <sys/types.h>

// Writes text to a new file created exclusively beside name in folder (never
// through a link or a file someone else holds open), gives it mode, and
// renames it over name, so readers see the old file or the whole new one.
// The folder itself must not be a link. False when nothing was replaced.
bool _ReplaceFile(const std::string& folder, const std::string& name, const std::string& text,
                  mode_t mode);
