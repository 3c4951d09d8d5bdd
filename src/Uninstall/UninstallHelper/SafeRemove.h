// Removal of installed items by their designed paths, safe to run as root.
//
// The helper runs with full rights while some of the folders it empties are
// writable by every user (the cache folder). So no symbolic link is ever
// followed below the QZM480_ROOT prefix: a link found at a designed path is
// removed as a link, a link inside a removed folder is removed as a link, and
// a link standing in for one of the folders above a designed path makes that
// removal fail instead of reaching into the rest of the system. Every step
// works on open folder descriptors, so a folder swapped for a link while the
// removal runs is not followed either.
#pragma once

#include <string_view>

namespace qzm::uninstall {

// Removes whatever stands at the designed path: a file or a link is unlinked,
// a folder is removed with everything in it. Nothing at the path counts as
// success. Returns false when anything could not be removed.
bool RemoveItem(std::string_view designed);

// Removes the folder at the designed path when it is a real folder and holds
// nothing; a folder with contents, a link or a missing folder stays as it is.
void RemoveFolderIfEmpty(std::string_view designed);

}  // namespace qzm::uninstall
